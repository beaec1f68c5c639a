"""Reads and presses an application's widgets as a screen reader does, through
AT-SPI. Run with Debian's python3 in the desktop's environment.

  atspi_tool.py dump APP           JSON list of {role, name, text, in_document, showing, checked,
                                   extents, value (sliders; null for others)}
  atspi_tool.py press APP NAME     does the default action of the first button or menu item NAME
"""

import json
import sys

import pyatspi

MAX_DEPTH = 60


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == name:
            return app
    return None


def walk(node, depth=0, in_document=False):
    if node is None or depth > MAX_DEPTH:
        return
    try:
        role = node.getRoleName()
        name = node.name or ''
    except Exception:
        return
    if role == 'document web':
        in_document = True
    text = ''
    try:
        text = node.queryText().getText(0, -1)
    except Exception:
        pass
    try:
        state = node.getState()
        showing = state.contains(pyatspi.STATE_SHOWING)
        checked = state.contains(pyatspi.STATE_CHECKED)
    except Exception:
        showing = checked = False
    extents = None
    try:
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except Exception:
        pass
    value = None
    if role == 'slider':
        try:
            value = node.queryValue().currentValue
        except Exception:
            pass
    yield node, {'role': role, 'name': name, 'text': text.replace('\ufffc', '').strip(),
                 'in_document': in_document, 'showing': showing, 'checked': checked, 'extents': extents,
                 'value': value}
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1, in_document)


def main():
    command, app_name = sys.argv[1], sys.argv[2]
    app = find_app(app_name)
    if app is None:
        print('[]')
        return 0
    if command == 'dump':
        print(json.dumps([info for _, info in walk(app)]))
        return 0
    if command == 'press':
        wanted = sys.argv[3]
        for node, info in walk(app):
            if info['role'] in ('push button', 'button', 'toggle button', 'menu item', 'radio menu item') and \
                    wanted in (info['name'], info['text']):
                node.queryAction().doAction(0)
                print('true')
                return 0
        print(f'no button {wanted!r}', file=sys.stderr)
        return 1
    return 2


if __name__ == '__main__':
    sys.exit(main())
