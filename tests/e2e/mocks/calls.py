"""Prints, as JSON, the calls a python3-dbusmock object on the session bus recorded:
[[method, [args...]], ...]. Run with Debian's python3: calls.py BUS_NAME OBJECT_PATH"""

import json
import sys

import dbus

bus = dbus.SessionBus()
mock = dbus.Interface(bus.get_object(sys.argv[1], sys.argv[2]), 'org.freedesktop.DBus.Mock')


def plain(value):
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.UInt32, dbus.Int32, dbus.UInt64, dbus.Int64, dbus.Byte, dbus.UInt16, dbus.Int16)):
        return int(value)
    return value


print(json.dumps([[str(method), plain(args)] for _, method, args in mock.GetCalls()]))
