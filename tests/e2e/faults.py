"""Faults of the platform, declared once. Each row of FAULTS says what the fault is, how it is detected in the program
under test, the control (a minimal program of the same architecture in the same rig, given exactly the program's
chances) that must fail the same way, and the judgements it may excuse. A judgement is a subtest opened with judge():
where it fails and a fault is detected in its process, it is skipped, said and listed after the run if the control
failed the same way, else it fails with what was found. A fault excuses only the judgements its row names (none of
security, the registry or the order of events), and no failure outside a judge()."""
import collections
import contextlib
import glob
import os
import re
import time

import desktop
import mcitrace
from rig import HANG, LONG, SHORT, said, windows_path


# -- the MPEG device's stop that never returns (Wine 10; once under Wine 8) ----------
# Seen in stops that came soon after a play (the sound playing or just ended); not in one long after. A case that
# does not judge such a stop lets the sound play out first. Under Wine 10 it is a deadlock of the player's own
# threads: the stop waits for the thread that stops the graph, which waits for the parser's stream thread, which
# is still delivering into the resampler whose stop has just freed its sample queue.
def stuck_mp3_stop(program):
    """The MCI_STOP a traced program sent to an MP3 (MPEG) device that did not return for HANG seconds while the
    program ran (on, or until the test ended it), and how many such stops it had sent by then; None if there is
    none. A program that ended by itself inside the stop crashed there: that is no stop that never returned;
    unless it ended with code 0, which only Halvory's deadline for its exit's stop does (shell/winmain.cpp)."""
    code = program.poll()
    if code not in (None, 0) and not program.killed:
        return None
    gave_up = code == 0 and not program.killed
    driver_of, stops = {}, 0
    now = (program.ended_at if code is not None else time.monotonic()) + mcitrace.raw_minus_monotonic()
    for c in program.calls():
        if c.command == 'MCI_OPEN' and c.opened:
            driver_of[c.opened] = (c.driver, c.element)
        elif c.command == 'MCI_STOP' and driver_of.get(c.device, ('',))[0] == 'MPEGVIDEO':
            stops += 1
            if c.rc is None and (gave_up or now - c.time >= HANG):
                return stops, driver_of[c.device][1], c
    return None


def mp3_stop_never_returned(program):
    stuck = stuck_mp3_stop(program)
    return stuck and 'its stop %d to the MP3 device never returned in %d s' % (stuck[0], HANG)


def control_mp3_stops(rig, program):
    """The minimal chime program (bench/chime.c) on the same MP3, in the same folder and setting, for as many stops
    as the program had sent, each as long after its play as the stop that never returned came after the program's
    last play (the state of the device it stopped: seen hanging in a stop soon after a play, not one long after):
    (its stop failed the same way, what it did)."""
    stops, element, stuck = stuck_mp3_stop(program)
    plays = [c.time for c in program.calls() if c.command == 'MCI_PLAY' and c.time <= stuck.time]
    interval = max(0.05, stuck.time - plays[-1]) if plays else 1.0
    control = rig.start_exe(os.path.join(rig.tools, 'tests', 'chime.exe'), str(int(interval * 1000)), element,
                            env=mcitrace.trace_env(program.env), cwd=program.cwd, name='control')
    try:
        deadline = time.monotonic() + stops * interval * 3 + LONG
        while time.monotonic() < deadline:
            time.sleep(1.0)
            hung = stuck_mp3_stop(control)
            if hung and hung[0] <= stops:
                return True, mp3_stop_never_returned(control) + ' (of %d)' % stops
            done = sum(1 for c in control.calls() if c.command == 'MCI_STOP' and c.rc == 0)
            if done >= stops or control.poll() is not None:
                break
        return False, 'it stopped the same MP3 %d times of %d' % (done, stops)
    finally:
        control.end()


# -- the tray menu that takes no key (Wine 10) ------------------------------------
def control_menu_key(rig, program):
    """The minimal tray program (bench/tray.c), with Halvory's running icon, given as many tries as the program had
    (program.keys_lost) to take the key of its menu's one item, which ends it: (it lost a key too, what happened)."""
    tries = program.keys_lost
    # Its icon is Halvory's picture: while Halvory's is still shown, the click could go to that one.
    if desktop.wait_tray(rig, 'none')[0] != 'none':
        raise AssertionError('the control cannot run: a Halvory icon is still shown')
    for n in range(1, tries + 1):
        control = rig.start_exe(os.path.join(rig.tools, 'tests', 'tray.exe'), windows_path(rig.exe), name='control')
        try:
            menu = desktop.open_tray_menu(rig, items=1)
            menu.key('c')
            if control.wait(SHORT) is None:
                return True, 'its menu did not take the key (try %d of %d)' % (n, tries)
        finally:
            if control.poll() is None:
                desktop.xdotool(rig, 'mousemove', 10, 10, 'click', 1)     # closes its menu
            control.end()
        desktop.wait_tray(rig, 'none')
    return False, 'its menu took the key %d times of %d' % (tries, tries)


# -- a media driver that dies on its own thread (emulated 32-bit) --------------------
_DEATH = re.compile(r'Unhandled (.+?) at address ([0-9A-Fa-f]+) \(thread ([0-9A-Fa-f]+)\)')


def media_driver_at(address, arch):
    """The system media driver (Wine's) whose image, where it loads, holds an address; None when none does."""
    for name in ('mciwave.dll', 'mciseq.dll', 'mciqtz32.dll'):
        for path in glob.glob('/usr/lib/*/wine/%s-windows/%s' % ('i386' if arch == 'i686' else 'x86_64', name)):
            with open(path, 'rb') as f:
                head = f.read(1024)
            opt = int.from_bytes(head[0x3c:0x40], 'little') + 24     # the optional header
            base = (int.from_bytes(head[opt + 28:opt + 32], 'little') if arch == 'i686'
                    else int.from_bytes(head[opt + 24:opt + 32], 'little'))
            if base <= address < base + int.from_bytes(head[opt + 56:opt + 60], 'little'):
                return name
    return None


def driver_death(program):
    """What Wine said when the program died of a fault inside a system media driver, in a thread other than its
    window's (our code runs on that one alone; Wine's wave driver plays on one of its own, and unloads itself under
    it when a playing device is closed as the program ends)."""
    if program.poll() is None or program.window_thread is None:
        return None
    with open(program.log, errors='replace') as f:
        m = _DEATH.search(f.read())
    if not m or int(m.group(3), 16) == program.window_thread:
        return None
    driver = media_driver_at(int(m.group(2), 16), program.rig.arch)
    return driver and '%s, in %s' % (m.group(0), driver)


Fault = collections.namedtuple('Fault', 'name detect control judgements')
FAULTS = [
    Fault('the MPEG device\'s stop (MCI_WAIT) never returns', mp3_stop_never_returned, control_mp3_stops,
          ('ends with code 0', 'a bell every ten seconds', 'the last stop closes the device')),
    Fault('the tray menu takes no key', lambda program: getattr(program, 'keys_lost', 0) and
          'its menu took no key in %d tries' % program.keys_lost, control_menu_key, ('the tray menu takes its keys',)),
    # No control: where it died (an address in the system driver's own image, on a thread of the driver's) is the
    # evidence itself. It excuses only a judgement of what was to happen after the death (judge's until).
    Fault('a system media driver died on its own thread', driver_death, None,
          ('ends with code 0', 'a bell every ten seconds', 'the last stop closes the device',
           'the menu resumes and exits')),
]
_controls = {}


def _excuse(rig, name, program, until):
    for fault in FAULTS:
        found = name in fault.judgements and fault.detect(program)
        if not found:
            continue
        if fault.control is None:
            if until is not None and program.ended_at is not None and program.ended_at <= until:
                return True, '%s: %s' % (fault.name, found)
            continue
        # Two judgements of one process may ask: the control runs once.
        key = (fault.name, id(program))
        if key not in _controls:
            _controls[key] = fault.control(rig, program)
        failed, what = _controls[key]
        return failed, '%s (%s); the control: %s' % (fault.name, found, what)
    return None


@contextlib.contextmanager
def judge(test, name, of=None, until=None):
    """One judgement, as a subtest: where it fails and a fault of the platform that may excuse it is found in the
    process `of`, it is skipped if the control failed the same way, and fails saying so if not. `until`: the
    instant by which what it judges had happened (a death after it excuses nothing)."""
    with test.subTest(name):
        try:
            yield
        except test.failureException:
            excuse = of and _excuse(of.rig, name, of, until)
            if excuse and excuse[0]:
                said('excused: %s [%s]: %s' % (test.id(), name, excuse[1]))
                test.skipTest('a fault of the platform: ' + excuse[1])
            if excuse:
                said('not excused: %s [%s]: %s' % (test.id(), name, excuse[1]))
            raise


def assert_ends_with_0(test, program, code):
    """The judgement that a process ended by itself with code 0."""
    with judge(test, 'ends with code 0', of=program, until=time.monotonic()):
        test.assertEqual(code, 0, '%s; its log ends:\n%s' % (program.how(), program.tail()))
