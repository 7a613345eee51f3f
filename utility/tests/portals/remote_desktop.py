'''A remote desktop portal for tests: org.freedesktop.portal.RemoteDesktop on
org.freedesktop.portal.Desktop, with the host registry beside it.

Requests answer through Request objects whose Response signal follows the method's reply after
`delay` milliseconds. Start answers with the response code set by SetBehaviour (0 allowed, 1 the
user declined, 2 ended) and, when the session asked to persist, a new restore token "token-N".
Methods named in SetBehaviour's second argument never answer.

Test helpers on org.freedesktop.DBus.Mock: Reset(), Keys() lists the keysym events received as
"KEYSYM STATE", RestoreTokens() the restore_token each SelectDevices carried ("" for none),
RegisteredIds() the application ids registered, CloseSessions() ends every session as a desktop
does when the user revokes it.
'''

import dbus
import dbus.service
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'
REGISTRY_IFACE = 'org.freedesktop.host.portal.Registry'


def _reset(mock):
    mock.rd_delay = 20
    mock.rd_start_response = 0
    mock.rd_never = []
    mock.rd_sessions = {}  # path -> {'started': bool, 'persist': int}
    mock.rd_keys = []
    mock.rd_tokens = []
    mock.rd_registered = []
    mock.rd_issued = 0


def load(mock, parameters):
    _reset(mock)
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(2),
                                                    'AvailableDeviceTypes': dbus.UInt32(7)}, signature='sv'))


def _sender_part(sender):
    return sender[1:].replace('.', '_')


def _request(mock, sender, options, method, code, results):
    token = str(options.get('handle_token', 'request'))
    path = '/org/freedesktop/portal/desktop/request/%s/%s' % (_sender_part(sender), token)
    mock.AddObject(path, REQUEST_IFACE, {}, [('Close', '', '', '')])
    if method in mock.rd_never:
        return path

    def respond():
        request = mockobject.objects[path]
        request.EmitSignal(REQUEST_IFACE, 'Response', 'ua{sv}', [dbus.UInt32(code), results])
        mock.RemoveObject(path)
        return False

    GLib.timeout_add(mock.rd_delay, respond)
    return path


def _session(mock, session):
    state = mock.rd_sessions.get(str(session))
    if state is None:
        raise dbus.exceptions.DBusException('Unknown session', name='org.freedesktop.portal.Error.NotFound')
    return state


@dbus.service.method(REGISTRY_IFACE, in_signature='sa{sv}', out_signature='')
def Register(self, app_id, options):
    self.rd_registered.append(str(app_id))


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    token = str(options.get('session_handle_token', 'session'))
    session = '/org/freedesktop/portal/desktop/session/%s/%s' % (_sender_part(sender), token)
    self.AddObject(session, SESSION_IFACE, {}, [('Close', '', '', '')])
    self.rd_sessions[session] = {'started': False, 'persist': 0}
    results = dbus.Dictionary({'session_handle': dbus.String(session)}, signature='sv')
    return _request(self, sender, options, 'CreateSession', 0, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender):
    state = _session(self, session)
    state['persist'] = int(options.get('persist_mode', 0))
    self.rd_tokens.append(str(options.get('restore_token', '')))
    return _request(self, sender, options, 'SelectDevices', 0, dbus.Dictionary({}, signature='sv'))


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender):
    state = _session(self, session)
    results = dbus.Dictionary({}, signature='sv')
    if self.rd_start_response == 0:
        state['started'] = True
        results['devices'] = dbus.UInt32(1)
        if state['persist']:
            self.rd_issued += 1
            results['restore_token'] = dbus.String('token-%d' % self.rd_issued)
    return _request(self, sender, options, 'Start', self.rd_start_response, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeysym(self, session, options, keysym, state):
    if not _session(self, session)['started']:
        raise dbus.exceptions.DBusException('Session not started', name='org.freedesktop.portal.Error.Failed')
    self.rd_keys.append('%d %d' % (keysym, state))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def Reset(self):
    _reset(self)


@dbus.service.method(MOCK_IFACE, in_signature='uas', out_signature='')
def SetBehaviour(self, start_response, never_answer):
    self.rd_start_response = int(start_response)
    self.rd_never = [str(name) for name in never_answer]


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Keys(self):
    return dbus.Array(self.rd_keys, signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def RestoreTokens(self):
    return dbus.Array(self.rd_tokens, signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def RegisteredIds(self):
    return dbus.Array(self.rd_registered, signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def CloseSessions(self):
    for path in list(self.rd_sessions):
        mockobject.objects[path].EmitSignal(SESSION_IFACE, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')])
        self.RemoveObject(path)
    self.rd_sessions = {}
