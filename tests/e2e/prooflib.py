"""Helpers shared by the robustness tests and the benchmark: Halvory started
with the media call trace, the trace read back, and what Linux knows about a
Wine process (CPU time, memory, open files).

Wine's "+timestamp,+mci" trace stamps each line with CLOCK_MONOTONIC_RAW in
seconds; the recorder and the tests work on time.monotonic (CLOCK_MONOTONIC),
so times are carried across with an offset taken at one instant.
"""
import os
import re
import time

import harness

TRACE = '-all,+timestamp,+mci'
_LINE = re.compile(r'^(\d+\.\d+):[0-9a-f]+:trace:mci:(\S+) (.*)$')
CLK_TCK = os.sysconf('SC_CLK_TCK')


def traced_env(rig):
    env = dict(rig.env)
    env['WINEDEBUG'] = TRACE
    return env


def start_traced(rig, cwd=None):
    """Starts halvory.exe with the media trace; returns (process, main window)."""
    p = rig.start_halvory(cwd=cwd, env=traced_env(rig))
    hwnd = rig.wait_main_window()
    return p, hwnd


def raw_minus_monotonic():
    """CLOCK_MONOTONIC_RAW - CLOCK_MONOTONIC now, best of a few reads."""
    best = None
    for _ in range(5):
        a = time.monotonic()
        r = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        b = time.monotonic()
        if best is None or b - a < best[0]:
            best = (b - a, r - (a + b) / 2)
    return best[1]


def trace_lines(log):
    """[(raw seconds, function, rest)] of the media trace lines in a log."""
    out = []
    try:
        with open(log, 'rb') as f:
            data = f.read().decode('utf-8', 'replace')
    except FileNotFoundError:
        return out
    for line in data.splitlines():
        m = _LINE.match(line)
        if m:
            out.append((float(m.group(1)), m.group(2), m.group(3)))
    return out


def commands(log, name):
    """Raw times of every mciSendCommandA of one command (MCI_OPEN, MCI_PLAY...)."""
    return [t for t, fn, rest in trace_lines(log)
            if fn == 'mciSendCommandA' and (', %s,' % name) in rest]


def opened_names(log):
    """Element names of the opens, as the trace prints them."""
    names = []
    for _, fn, rest in trace_lines(log):
        if fn == 'MCI_Open' and rest.startswith('lpstrElementName=L"'):
            names.append(rest[len('lpstrElementName=L"'):-1])
    return names


def wait_for(predicate, timeout, step=0.1):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    value = predicate()
    while not value and time.monotonic() < deadline:
        time.sleep(step)
        value = predicate()
    return value


# -- a Wine process seen from Linux --------------------------------------------
def cpu_seconds(pid):
    """utime + stime of a Linux process, in seconds."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def rss_kb(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def fd_count(pid):
    return len(os.listdir('/proc/%d/fd' % pid))


def toplevels(rig, windows_pid=None):
    """[(hwnd, pid, class, visible)] of the desktop's top-level windows."""
    out = rig.driver('toplevels', windows_pid if windows_pid is not None else '-')
    result = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 4:
            result.append((int(parts[0], 16), int(parts[1]), parts[2], parts[3] == '1'))
    return result


def halvory_windows(rig):
    return [w for w in toplevels(rig) if w[2] == harness.MAIN_CLASS]
