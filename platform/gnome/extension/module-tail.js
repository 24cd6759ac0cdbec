
export default class KeyflareExtension extends Extension {
    enable() {
        this._service = keyflareService(shellServices, this.path);
        this._service.enable();
    }

    disable() {
        this._service.disable();
        this._service = null;
    }
}
