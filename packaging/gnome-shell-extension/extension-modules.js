
export default class PixkeyMiniExtension extends Extension {
    enable() {
        this._service = new PixkeyShellService({Gio, GLib, Shell});
        this._service.enable();
    }

    disable() {
        if (this._service)
            this._service.disable();
        this._service = null;
    }
}
