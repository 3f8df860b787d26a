"""The program's own identifiers and resources, read from its sources (res/resource.h and res/halvory.rc), so that
the tests hold no copy of them: the window's class and name, the menu's items, the dialog's template."""
import os
import re

RES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), 'res')

# The platform's constants that the resource script names.
PLATFORM = {
    'IDOK': 1, 'IDCANCEL': 2, 'WS_CHILD': 0x40000000, 'WS_VISIBLE': 0x10000000, 'WS_CAPTION': 0xC00000,
    'WS_SYSMENU': 0x80000, 'WS_BORDER': 0x800000, 'WS_GROUP': 0x20000, 'WS_TABSTOP': 0x10000,
    'DS_CENTER': 0x800, 'DS_MODALFRAME': 0x80, 'DS_SETFONT': 0x40, 'SS_LEFT': 0, 'ES_AUTOHSCROLL': 0x80,
    'ES_NUMBER': 0x2000, 'ES_RIGHT': 0x2, 'BS_BITMAP': 0x80, 'BS_DEFPUSHBUTTON': 0x1,
    'UDS_SETBUDDYINT': 0x2, 'UDS_ALIGNRIGHT': 0x4, 'UDS_AUTOBUDDY': 0x10, 'UDS_ARROWKEYS': 0x20,
}


def _read(name):
    with open(os.path.join(RES, name), encoding='utf-8') as f:
        return f.read()


IDS = {name: int(value) for name, value in re.findall(r'^#define\s+(ID\w+)\s+(\d+)', _read('resource.h'), re.M)}
globals().update(IDS)
IDOK, IDCANCEL, IDC_STATIC = 1, 2, 0xFFFF


def value(expression):
    """A number, an identifier or an OR of styles, as the script writes it."""
    total = 0
    for word in expression.split('|'):
        word = word.strip()
        total |= int(word, 0) & 0xFFFF if word.lstrip('-').isdigit() else IDS.get(word, PLATFORM.get(word))
    return total


_RC = _read('halvory.rc')
# How long the program gives its exit's stop before it ends all the same.
with open(os.path.join(os.path.dirname(RES), 'shell', 'winmain.cpp'), encoding='utf-8') as _f:
    STOP_DEADLINE = int(re.search(r'#define STOP_DEADLINE_MS (\d+)', _f.read()).group(1)) / 1000.0
STRINGS = {IDS[k]: v for k, v in re.findall(r'^\s+(IDS_\w+)\s+"([^"]*)"', _RC, re.M)}
MAIN_CLASS, MAIN_TITLE = STRINGS[IDS_CLASSNAME], STRINGS[IDS_WINDOWNAME]  # noqa: F821
# The tray menu's text items, top to bottom: [(text, command)].
MENU = [(text, IDS[name]) for text, name in re.findall(r'MENUITEM\s+"([^"]*)",\s*(\w+)', _RC)]

_dialog = _RC[_RC.index('IDD_SETTINGS DIALOG'):]
DIALOG_CAPTION = re.search(r'^CAPTION\s+"([^"]*)"', _dialog, re.M).group(1)
DIALOG_STYLE = value(re.search(r'^STYLE\s+(.*)$', _dialog, re.M).group(1))
# The dialog's controls in template (tab) order: id, class, text, style, x, y, width, height.
TEMPLATE = [(value(i), cls, text, value(style), *map(int, (x, y, w, h))) for text, i, cls, style, x, y, w, h in
            re.findall(r'CONTROL\s+"([^"]*)",\s*([-\w]+),\s*"([^"]+)",\s*([^,]+),\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)',
                       _dialog)]
