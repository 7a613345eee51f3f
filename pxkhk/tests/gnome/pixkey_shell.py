'''A stand-in of the Pixkey mini GNOME Shell extension for tests: com.vostrel.PixkeyMini.Shell at
/com/vostrel/PixkeyMini/Shell, answering GetFocus and GetModifiers from its state.

Parameters: focus [window, appId, wmClass, pid] and mask, the state at start.
Test helpers on org.freedesktop.DBus.Mock: SetFocus(u, s, s, u) and SetModifiers(u) change the
state and emit FocusChanged or ModifiersChanged as the extension does.
'''

import dbus
import dbus.service

from dbusmock import MOCK_IFACE

BUS_NAME = 'com.vostrel.PixkeyMini.Shell'
MAIN_OBJ = '/com/vostrel/PixkeyMini/Shell'
MAIN_IFACE = 'com.vostrel.PixkeyMini.Shell'
SYSTEM_BUS = False


def load(mock, parameters):
    focus = parameters.get('focus', [0, '', '', 0])
    mock.px_focus = (dbus.UInt32(focus[0]), dbus.String(focus[1]), dbus.String(focus[2]), dbus.UInt32(focus[3]))
    mock.px_mask = dbus.UInt32(parameters.get('mask', 0))
    mock.AddMethods(MAIN_IFACE, [
        ('GetFocus', '', 'ussu', 'ret = self.px_focus'),
        ('GetModifiers', '', 'u', 'ret = self.px_mask'),
    ])
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'Version': dbus.UInt32(1)}, signature='sv'))


@dbus.service.method(MOCK_IFACE, in_signature='ussu', out_signature='')
def SetFocus(self, window, app_id, wm_class, pid):
    self.px_focus = (dbus.UInt32(window), dbus.String(app_id), dbus.String(wm_class), dbus.UInt32(pid))
    self.EmitSignal(MAIN_IFACE, 'FocusChanged', 'ussu', list(self.px_focus))


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetModifiers(self, mask):
    self.px_mask = dbus.UInt32(mask)
    self.EmitSignal(MAIN_IFACE, 'ModifiersChanged', 'u', [self.px_mask])
