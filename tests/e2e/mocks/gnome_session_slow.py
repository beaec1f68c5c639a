"""A GNOME session manager whose Inhibit answers only when the test allows it
(python3-dbusmock template). Parameter "gate": a directory where it creates
"inhibit-called" when Inhibit arrives, then waits for "inhibit-answer"."""

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False

INHIBIT = '''
import os, time
open(os.path.join(self.gate, 'inhibit-called'), 'w').close()
deadline = time.monotonic() + 60
while not os.path.exists(os.path.join(self.gate, 'inhibit-answer')) and time.monotonic() < deadline:
    time.sleep(0.05)
self.cookies += 1
ret = self.cookies
'''


def load(mock, parameters):
    mock.cookies = 0
    mock.gate = parameters['gate']
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'susu', 'u', INHIBIT),
        ('Uninhibit', 'u', '', ''),
        ('IsInhibited', 'u', 'b', 'ret = False'),
        ('RegisterClient', 'ss', 'o', 'ret = "/org/gnome/SessionManager/Client1"'),
        ('UnregisterClient', 'o', '', ''),
    ])
    mock.AddObject('/org/gnome/SessionManager/Client1', 'org.gnome.SessionManager.ClientPrivate',
                   {}, [('EndSessionResponse', 'bs', '', '')])
