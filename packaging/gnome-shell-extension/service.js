// The service of the Pixkey mini GNOME Shell extension: tells the Pixkey mini program, over the
// session bus, which window has the focus (its application, WM class and process) and which
// modifier keys are held, because GNOME Shell offers no public interface for either.
//
// Shared by both builds of the extension: extension-legacy.js (GNOME 43 and 44) and
// extension-modules.js (GNOME 45 and later) hand it the GI modules they imported.

const PIXKEY_BUS_NAME = 'com.vostrel.PixkeyMini.Shell';
const PIXKEY_OBJECT_PATH = '/com/vostrel/PixkeyMini/Shell';
const PIXKEY_INTERFACE_XML = `
<node>
  <interface name="com.vostrel.PixkeyMini.Shell">
    <method name="GetFocus">
      <arg type="u" direction="out" name="window"/>
      <arg type="s" direction="out" name="appId"/>
      <arg type="s" direction="out" name="wmClass"/>
      <arg type="u" direction="out" name="pid"/>
    </method>
    <method name="GetModifiers">
      <arg type="u" direction="out" name="mask"/>
    </method>
    <signal name="FocusChanged">
      <arg type="u" name="window"/>
      <arg type="s" name="appId"/>
      <arg type="s" name="wmClass"/>
      <arg type="u" name="pid"/>
    </signal>
    <signal name="ModifiersChanged">
      <arg type="u" name="mask"/>
    </signal>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// Clutter's Shift, Control, Alt (Mod1) and Super bits: the mask the program reads. Lock keys and
// pointer buttons are left out so that they cause no signals.
const PIXKEY_MODIFIER_BITS = 1 | 4 | 8 | 64 | (1 << 26);
// How often the held modifiers are read (milliseconds); a signal goes out only on a change.
const PIXKEY_MODIFIER_POLL = 50;

var PixkeyShellService = class PixkeyShellService {
    constructor(gi) {
        this._Gio = gi.Gio;
        this._GLib = gi.GLib;
        this._Shell = gi.Shell;
        this._focus = [0, '', '', 0];
        this._mask = 0;
    }

    enable() {
        const Gio = this._Gio;
        const GLib = this._GLib;
        this._tracker = this._Shell.WindowTracker.get_default();
        this._focus = this._readFocus();
        this._mask = this._readMask();

        this._object = Gio.DBusExportedObject.wrapJSObject(PIXKEY_INTERFACE_XML, this);
        this._object.export(Gio.DBus.session, PIXKEY_OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, PIXKEY_BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);

        this._focusHandler = global.display.connect('notify::focus-window', () => this._focusChanged());
        // A window's application can be known only after it got the focus.
        this._appHandler = this._tracker.connect('notify::focus-app', () => this._focusChanged());
        this._modifierSource = GLib.timeout_add(GLib.PRIORITY_DEFAULT, PIXKEY_MODIFIER_POLL, () => {
            this._modifiersChanged();
            return GLib.SOURCE_CONTINUE;
        });
    }

    disable() {
        if (this._modifierSource) {
            this._GLib.source_remove(this._modifierSource);
            this._modifierSource = 0;
        }
        if (this._focusHandler) {
            global.display.disconnect(this._focusHandler);
            this._focusHandler = 0;
        }
        if (this._appHandler) {
            this._tracker.disconnect(this._appHandler);
            this._appHandler = 0;
        }
        if (this._nameId) {
            this._Gio.bus_unown_name(this._nameId);
            this._nameId = 0;
        }
        if (this._object) {
            this._object.unexport();
            this._object = null;
        }
        this._tracker = null;
    }

    // D-Bus methods and property.
    GetFocus() {
        return this._focus;
    }

    GetModifiers() {
        return this._mask;
    }

    get Version() {
        return 1;
    }

    _readFocus() {
        const window = global.display.focus_window;
        if (!window)
            return [0, '', '', 0];
        const app = this._tracker.get_window_app(window);
        // A window without a desktop file gets a made-up application ("window:N"): no app id then.
        const appId = app && !app.is_window_backed() ? app.get_id() || '' : '';
        const pid = window.get_pid();
        return [window.get_stable_sequence(), appId, window.get_wm_class() || '', pid > 0 ? pid : 0];
    }

    _readMask() {
        const [, , mods] = global.get_pointer();
        return mods & PIXKEY_MODIFIER_BITS;
    }

    _focusChanged() {
        const focus = this._readFocus();
        if (focus.every((value, i) => value === this._focus[i]))
            return;
        this._focus = focus;
        this._object.emit_signal('FocusChanged', new this._GLib.Variant('(ussu)', focus));
    }

    _modifiersChanged() {
        const mask = this._readMask();
        if (mask === this._mask)
            return;
        this._mask = mask;
        this._object.emit_signal('ModifiersChanged', new this._GLib.Variant('(u)', [mask]));
    }
};
