
/* exported init */
function init() {
    return new KeyflareService(imports.misc.extensionUtils.getCurrentExtension().path);
}
