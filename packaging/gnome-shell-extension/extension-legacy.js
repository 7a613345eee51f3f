
// GNOME 43 and 44 load an extension as a script with the GI modules under imports.gi and call
// its init(), which returns the object they enable and disable.
const {Gio: PixkeyGio, GLib: PixkeyGLib, Shell: PixkeyShell} = imports.gi;

function init() {
    let service = null;
    return {
        enable() {
            service = new PixkeyShellService({Gio: PixkeyGio, GLib: PixkeyGLib, Shell: PixkeyShell});
            service.enable();
        },
        disable() {
            if (service)
                service.disable();
            service = null;
        },
    };
}
