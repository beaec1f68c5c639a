"""A session-bus screen saver that records Inhibit and UnInhibit (python3-dbusmock template)."""

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.cookies = 0
    mock.AddMethods(MAIN_IFACE, [
        ('Inhibit', 'ss', 'u', 'self.cookies += 1; ret = self.cookies'),
        ('UnInhibit', 'u', '', ''),
    ])
