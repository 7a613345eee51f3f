'''A GlobalShortcuts portal for tests: org.freedesktop.portal.GlobalShortcuts on
org.freedesktop.portal.Desktop, with the host registry beside it.

Requests answer through Request objects whose Response signal follows the method's reply after
`delay` milliseconds. How each method answers is set by parameters, and changed at run time with
SetBehaviour:
  response:      the Response code of BindShortcuts (0 bound, 1 the user declined, 2 ended)
  never_answer:  a list of method names whose Response never comes
  registry:      false leaves the host registry out (a portal older than 1.19)
Test helpers on org.freedesktop.DBus.Mock: Activate(shortcut id) emits Activated for the last
session, CloseSessions() ends every session as a desktop does, BoundShortcuts() lists (id, preferred trigger) of the last binding, RegisteredIds() the
application ids registered.
'''

import dbus
import dbus.service
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'
REGISTRY_IFACE = 'org.freedesktop.host.portal.Registry'


def load(mock, parameters):
    mock.gs_delay = int(parameters.get('delay', 20))
    mock.gs_response = int(parameters.get('response', 0))
    mock.gs_never = list(parameters.get('never_answer', []))
    mock.gs_registry = bool(parameters.get('registry', True))
    mock.gs_sessions = []
    mock.gs_bound = []
    mock.gs_registered = []
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(1)}, signature='sv'))


def _sender_part(sender):
    return sender[1:].replace('.', '_')


def _request(mock, sender, options, method, code, results):
    token = str(options.get('handle_token', 'request%d' % len(mock.gs_sessions)))
    path = '/org/freedesktop/portal/desktop/request/%s/%s' % (_sender_part(sender), token)
    mock.AddObject(path, REQUEST_IFACE, {}, [('Close', '', '', '')])
    if method in mock.gs_never:
        return path

    def respond():
        request = mockobject.objects[path]
        request.EmitSignal(REQUEST_IFACE, 'Response', 'ua{sv}', [dbus.UInt32(code), results])
        mock.RemoveObject(path)
        return False

    GLib.timeout_add(mock.gs_delay, respond)
    return path


@dbus.service.method(REGISTRY_IFACE, in_signature='sa{sv}', out_signature='')
def Register(self, app_id, options):
    if not self.gs_registry:
        raise dbus.exceptions.DBusException('No such interface', name='org.freedesktop.DBus.Error.UnknownMethod')
    self.gs_registered.append(str(app_id))


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    token = str(options.get('session_handle_token', 'session%d' % len(self.gs_sessions)))
    session = '/org/freedesktop/portal/desktop/session/%s/%s' % (_sender_part(sender), token)
    self.AddObject(session, SESSION_IFACE, {}, [('Close', '', '', '')])
    self.gs_sessions.append(session)
    results = dbus.Dictionary({'session_handle': dbus.String(session)}, signature='sv')
    return _request(self, sender, options, 'CreateSession', 0, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent_window, options, sender):
    if str(session) not in self.gs_sessions:
        raise dbus.exceptions.DBusException('Unknown session', name='org.freedesktop.portal.Error.NotFound')
    self.gs_bound = [(str(sid), str(props.get('preferred_trigger', ''))) for sid, props in shortcuts]
    bound = dbus.Array([dbus.Struct((dbus.String(sid), dbus.Dictionary(
        {'description': dbus.String('bound'), 'trigger_description': dbus.String('Press ' + trigger)},
        signature='sv'))) for sid, trigger in self.gs_bound], signature='(sa{sv})')
    results = dbus.Dictionary({'shortcuts': bound}, signature='sv') if self.gs_response == 0 else \
        dbus.Dictionary({}, signature='sv')
    return _request(self, sender, options, 'BindShortcuts', self.gs_response, results)


@dbus.service.method(MOCK_IFACE, in_signature='uas', out_signature='')
def SetBehaviour(self, response, never_answer):
    self.gs_response = int(response)
    self.gs_never = [str(name) for name in never_answer]


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def Activate(self, shortcut_id):
    self.EmitSignal(MAIN_IFACE, 'Activated', 'osta{sv}',
                    [dbus.ObjectPath(self.gs_sessions[-1]), shortcut_id, dbus.UInt64(1234),
                     dbus.Dictionary({}, signature='sv')])


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(ss)')
def BoundShortcuts(self):
    return dbus.Array(self.gs_bound, signature='(ss)')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def RegisteredIds(self):
    return dbus.Array(self.gs_registered, signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def CloseSessions(self):
    for path in self.gs_sessions:
        if path in mockobject.objects:
            mockobject.objects[path].EmitSignal(SESSION_IFACE, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')])
            self.RemoveObject(path)
