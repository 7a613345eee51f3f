// Loaded into KWin by the Pixkey mini hook layer: reports the active window to the hook's own
// D-Bus object, so the keypad can follow the application in front. The hook fills in SERVICE,
// OBJECT and INTERFACE when it writes this file, and unloads the script when it stops.
//
// KWin 6 names the signal windowActivated and the property activeWindow; KWin 5 names them
// clientActivated and activeClient. Every value travels as a string so that the D-Bus signature
// does not depend on how the script engine converts numbers.
(function () {
    var SERVICE = "@SERVICE@";
    var OBJECT = "@OBJECT@";
    var INTERFACE = "@INTERFACE@";

    function text(value) {
        return value === undefined || value === null ? "" : String(value);
    }

    function report(window) {
        if (!window) {
            callDBus(SERVICE, OBJECT, INTERFACE, "Activated", "", "", "", "");
            return;
        }
        callDBus(SERVICE, OBJECT, INTERFACE, "Activated", text(window.internalId), text(window.pid),
                 text(window.resourceClass), text(window.desktopFileName));
    }

    function removed(window) {
        if (window)
            callDBus(SERVICE, OBJECT, INTERFACE, "Removed", text(window.internalId));
    }

    if (workspace.windowActivated !== undefined) {
        workspace.windowActivated.connect(report);
        workspace.windowRemoved.connect(removed);
        report(workspace.activeWindow);
    } else {
        workspace.clientActivated.connect(report);
        workspace.clientRemoved.connect(removed);
        report(workspace.activeClient);
    }
})();
