"""A GNOME session manager that records Inhibit and Uninhibit (python3-dbusmock template).
With the parameter "gate" (a directory), Inhibit answers only when the test allows
it: it creates "inhibit-called" there, then waits for "inhibit-answer"."""

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False

INHIBIT = 'self.cookies += 1; ret = self.cookies'
GATED_INHIBIT = '''
import os, time
open(os.path.join(self.gate, 'inhibit-called'), 'w').close()
deadline = time.monotonic() + 60
while not os.path.exists(os.path.join(self.gate, 'inhibit-answer')) and time.monotonic() < deadline:
    time.sleep(0.05)
''' + INHIBIT


def load(mock, parameters):
    mock.cookies = 0
    mock.gate = parameters.get('gate')
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'susu', 'u', GATED_INHIBIT if mock.gate else INHIBIT),
        ('Uninhibit', 'u', '', ''),
        ('IsInhibited', 'u', 'b', 'ret = False'),
        ('RegisterClient', 'ss', 'o', 'ret = "/org/gnome/SessionManager/Client1"'),
        ('UnregisterClient', 'o', '', ''),
    ])
    mock.AddObject('/org/gnome/SessionManager/Client1', 'org.gnome.SessionManager.ClientPrivate',
                   {}, [('EndSessionResponse', 'bs', '', '')])
