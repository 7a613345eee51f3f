// The extension outside GNOME Shell: each build runs in a node context whose GI modules and
// `global` are small fakes recording what the service does with them: what it exports and owns on
// the bus, which signals it emits for focus and modifier changes, and that disabling it takes
// everything back. The script build (GNOME 43/44) runs as it is, through its init(); the module
// build (GNOME 45+) with its imports taken from the context and its default export kept there.
//
//   node service-test.cjs BUILD/legacy/UUID/extension.js BUILD/modules/UUID/extension.js
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');


// Values made inside the context have that context's prototypes: compared as plain data.
function same(actual, expected, message) {
    assert.deepStrictEqual(JSON.parse(JSON.stringify(actual)), expected, message);
}

function makeWorld() {
    const world = {signals: [], owned: [], exported: [], handlers: new Map(), timers: new Map(), nextId: 1, mods: 0};
    const connectable = {
        connect(name, callback) {
            const id = world.nextId++;
            world.handlers.set(id, {name, callback});
            return id;
        },
        disconnect(id) {
            assert.ok(world.handlers.delete(id), 'disconnect of an unknown handler ' + id);
        },
    };
    world.fire = name => {
        for (const {name: n, callback} of [...world.handlers.values()])
            if (n === name)
                callback();
    };
    world.tick = () => {
        for (const callback of [...world.timers.values()])
            callback();
    };
    world.apps = new Map(); // window -> app
    const Gio = {
        DBus: {session: {name: 'session'}},
        BusNameOwnerFlags: {NONE: 0},
        DBusExportedObject: {
            wrapJSObject(xml, object) {
                world.xml = xml;
                world.object = object;
                return {
                    export(connection, path) { world.exported.push(path); },
                    unexport() { world.exported.pop(); },
                    emit_signal(name, variant) { world.signals.push([name, variant.signature, variant.value]); },
                };
            },
        },
        bus_own_name_on_connection(connection, name) {
            world.owned.push(name);
            return 77;
        },
        bus_unown_name(id) {
            assert.strictEqual(id, 77);
            world.owned.pop();
        },
    };
    const GLib = {
        PRIORITY_DEFAULT: 0,
        SOURCE_CONTINUE: true,
        Variant: class {
            constructor(signature, value) {
                this.signature = signature;
                this.value = value;
            }
        },
        timeout_add(priority, interval, callback) {
            const id = world.nextId++;
            world.timers.set(id, callback);
            world.interval = interval;
            return id;
        },
        source_remove(id) {
            assert.ok(world.timers.delete(id), 'removal of an unknown source ' + id);
        },
    };
    const tracker = Object.assign(Object.create(connectable), {get_window_app: window => world.apps.get(window) || null});
    const Shell = {WindowTracker: {get_default: () => tracker}};
    const display = Object.assign(Object.create(connectable), {focus_window: null});
    world.display = display;
    world.context = vm.createContext({
        imports: {gi: {Gio, GLib, Shell}},
        Gio, GLib, Shell,
        Extension: class {
            constructor(metadata) { this.metadata = metadata; }
        },
        global: {display, get_pointer: () => [10, 20, world.mods]},
    });
    return world;
}

function window(sequence, wmClass, pid) {
    return {get_stable_sequence: () => sequence, get_wm_class: () => wmClass, get_pid: () => pid};
}

function check(build, file) {
    const source = fs.readFileSync(file, 'utf8');
    const world = makeWorld();
    if (build === 'legacy') {
        vm.runInContext(source + '\n;this.__extension = init();', world.context);
    } else {
        const imports = source.match(/^import .*$/mg) || [];
        assert.deepStrictEqual(imports.map(line => line.split(' from ')[1]),
            ["'gi://Gio';", "'gi://GLib';", "'gi://Shell';", "'resource:///org/gnome/shell/extensions/extension.js';"]);
        const script = source.replace(/^import .*$/mg, '').replace('export default class', 'this.__Extension = class');
        vm.runInContext(script + '\n;this.__extension = new this.__Extension({uuid: "pixkey-mini@vostrel.com"});', world.context);
    }
    const extension = world.context.__extension;

    // Enabled with nothing focused and nothing held.
    extension.enable();
    same(world.exported, ['/com/vostrel/PixkeyMini/Shell']);
    same(world.owned, ['com.vostrel.PixkeyMini.Shell']);
    assert.match(world.xml, /<signal name="FocusChanged">/);
    const service = world.object;
    same(service.GetFocus(), [0, '', '', 0]);
    assert.strictEqual(service.GetModifiers(), 0);
    assert.strictEqual(service.Version, 1);
    assert.ok(world.interval > 0 && world.interval <= 100, 'modifiers are read often enough for rows');

    // A window with a desktop file gets the focus: one signal, and GetFocus agrees.
    const editor = window(5, 'gnome-text-editor', 4242);
    world.apps.set(editor, {get_id: () => 'org.gnome.TextEditor.desktop', is_window_backed: () => false});
    world.display.focus_window = editor;
    world.fire('notify::focus-window');
    world.fire('notify::focus-app'); // the same state again: no second signal
    same(world.signals, [['FocusChanged', '(ussu)', [5, 'org.gnome.TextEditor.desktop', 'gnome-text-editor', 4242]]]);
    same(service.GetFocus(), [5, 'org.gnome.TextEditor.desktop', 'gnome-text-editor', 4242]);

    // A window without one (GNOME makes up a "window:N" application) and without a known process.
    const terminal = window(6, 'xterm', -1);
    world.apps.set(terminal, {get_id: () => 'window:6', is_window_backed: () => true});
    world.display.focus_window = terminal;
    world.fire('notify::focus-window');
    same(world.signals.pop(), ['FocusChanged', '(ussu)', [6, '', 'xterm', 0]]);

    // Nothing focused.
    world.display.focus_window = null;
    world.fire('notify::focus-window');
    same(world.signals.pop(), ['FocusChanged', '(ussu)', [0, '', '', 0]]);

    // Modifiers: Ctrl with a mouse button held reads Ctrl; Caps Lock changes nothing; release.
    world.signals.length = 0;
    world.mods = 4 | 256;
    world.tick();
    world.mods = 4 | 256 | 2;
    world.tick();
    same(world.signals, [['ModifiersChanged', '(u)', [4]]]);
    assert.strictEqual(service.GetModifiers(), 4);
    world.mods = 0;
    world.tick();
    same(world.signals.pop(), ['ModifiersChanged', '(u)', [0]]);

    // Disabled: every handler, the timer, the name and the object are gone; enabled again it works.
    extension.disable();
    assert.strictEqual(world.handlers.size, 0);
    assert.strictEqual(world.timers.size, 0);
    same(world.owned, []);
    same(world.exported, []);
    extension.enable();
    same(world.owned, ['com.vostrel.PixkeyMini.Shell']);
    extension.disable();
    assert.strictEqual(world.handlers.size, 0);
    console.log(build + ' build: reports focus and modifiers and cleans up');
}

check('legacy', process.argv[2]);
check('modules', process.argv[3]);
