
/* exported init */
function init() {
    return keyflareService(shellServices, imports.misc.extensionUtils.getCurrentExtension().path);
}
