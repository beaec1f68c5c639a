"""A GNOME session manager that records Inhibit and Uninhibit (python3-dbusmock template)."""

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.cookies = 0
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'susu', 'u', 'self.cookies += 1; ret = self.cookies'),
        ('Uninhibit', 'u', '', ''),
        ('IsInhibited', 'u', 'b', 'ret = False'),
        ('RegisterClient', 'ss', 'o', 'ret = "/org/gnome/SessionManager/Client1"'),
        ('UnregisterClient', 'o', '', ''),
    ])
    mock.AddObject('/org/gnome/SessionManager/Client1', 'org.gnome.SessionManager.ClientPrivate',
                   {}, [('EndSessionResponse', 'bs', '', '')])
