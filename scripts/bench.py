#!/usr/bin/env python3
"""Halvory's benchmark: measures and reports, never fails.

Runs the release exes (BUILD/release) under Wine in a rig of its own (BUILD/bench-rig), each against minimal programs
of its architecture (bench/*.c); writes BUILD/bench/report.md and gaps.png (see the README's Benchmark section).
"""
import argparse
import bisect
import collections
import math
import os
import statistics
import subprocess
import sys
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import audio  # noqa: E402
import desktop  # noqa: E402
import mcitrace  # noqa: E402
import rig as rigs  # noqa: E402
from audio import RATE  # noqa: E402
from rig import WM_CLOSE, windows_path  # noqa: E402
from timeline import near  # noqa: E402

HOUR_MS = 3600000
# (architecture, release exe, tool prefix). The 32-bit exe is the release.
ARCHES = (('i686', 'halvory.exe', 'i686-w64-mingw32'), ('x86_64', 'halvory-x64.exe', 'x86_64-w64-mingw32'))
HALVORY, MINIMAL = 'Halvory', 'minimal'
SECTIONS = ('size', 'timing', 'idle', 'startup', 'soak', 'long')
# A play is heard when a tone starts this soon around it (seconds): a WAV starts 10-40 ms after the play, a loaded
# machine's up to ~250 ms.
HEARD_BEFORE, HEARD_AFTER = 0.05, 0.6


def cpu_seconds(pid):
    """All threads' CPU time by the scheduler's own count (ns), not utime+stime, whose 10 ms ticks are coarser than
    an idle minute of either program."""
    total = 0
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass    # a thread that ended meanwhile
    return total / 1e9


def close(p, cls=None):
    """Ends Halvory through its menu's exit command, a minimal program by WM_CLOSE to its window of class cls: the
    exit code, or 'hung' when it did not end (then it is ended by its id)."""
    if p.poll() is not None:
        return p.poll()
    hwnd = cls and p.rig.find_window(cls, cls, 10000)
    if hwnd:
        p.rig.post(hwnd, WM_CLOSE)
    code = p.wait(30) if cls else p.exit(30)
    return code if code is not None else p.end() or 'hung'


def plays_of(p):
    """The restarts (a tick's stop, close, open and play) in a traced program's log that went as far as the play."""
    return [k for k in mcitrace.restarts(p.calls()) if k.play]


def dropouts(rec, onset, within=0.25, least=0.005):
    """Stretches of digital silence (exact zeros) of at least `least` s inside the chime that starts at onset (before
    its last loud sample within `within` s): the audio path ran dry while it played, and the chime came out cut."""
    s = rec.samples(int(onset * RATE), int(onset * RATE) + int(within * RATE))
    count = run = 0
    for x in s[:max((i for i, x in enumerate(s) if abs(x) >= 1024), default=0)]:
        count += x != 0 and run >= least * RATE
        run = run + 1 if x == 0 else 0
    return count


def onset_after(onsets, t, within=HEARD_AFTER, before=HEARD_BEFORE):
    i = bisect.bisect_left(onsets, t - before)
    return onsets[i] if i < len(onsets) and onsets[i] <= t + within else None


ms = lambda x: '%.1f ms' % (x * 1000)  # noqa: E731
share = lambda part, whole: part / max(1, whole)  # noqa: E731


def trio(values):
    """(median, p95, max) of a list that is not empty."""
    s = sorted(values)
    return statistics.median(s), s[int(round(0.95 * (len(s) - 1)))], s[-1]


def ratio(a, b):
    if a != a or b != b:
        return 'n/a'
    return '%.2f' % (a / b) if b else 'n/a (minimal 0)' if a else 'n/a (both 0)'


def fisher_p(a, b, c, d):
    """Two-sided Fisher exact test of [[a, b], [c, d]]: how likely two shares as far apart as a/(a+b) and c/(c+d)
    are when both programs lose plays at the same rate."""
    n1, n2, k = a + b, c + d, a + c
    prob = lambda x: math.comb(n1, x) * math.comb(n2, k - x) / math.comb(n1 + n2, k)  # noqa: E731
    return min(1.0, sum(prob(x) for x in range(max(0, k - n2), min(k, n1) + 1) if prob(x) <= prob(a) * (1 + 1e-9)))


class ChimeFigures:
    """What the trace and the recording say about one program's rounds at the 1 s interval."""

    def __init__(self):
        self.traced = self.answered = self.heard = self.cut = 0   # plays; returned 0; heard; heard with dropouts
        self.lost, self.stray = [], []  # plays answered 0, not heard; a round's tone onsets that no play explains
        self.gap_errors, self.from_tick, self.from_play, self.codes = [], [], [], []    # seconds; exit codes
        self.drift, self.intervals = 0.0, 0     # summed over the rounds, over this many intervals

    def add_round(self, number, p, code, rec, onsets, to_rec, plays):
        """Adds the plays 1..plays of one round's program (the first play of a process is slower: devices open cold)."""
        self.codes.append(code)
        all_ticks = plays_of(p)
        heard, matched = [], set()
        for i, tick in enumerate(all_ticks[1:plays + 1], start=1):
            play = to_rec(tick.play.time)
            self.traced += 1
            self.answered += tick.play.rc == 0
            onset = onset_after(onsets, play)
            if onset is None and tick.play.rc == 0:
                late = onset_after(onsets, play, within=1.0, before=0)
                peak = max((abs(x) for x in rec.samples(int(play * RATE), int((play + HEARD_AFTER) * RATE))), default=0)
                self.lost.append('round %d play %d: device %d, open to play %.1f ms, loudest on the sink in the next '
                                 '%.1f s %.1f dBFS, next tone onset %s' % (
                                     number, i, tick.play.device, (tick.play.time - tick.open.time) * 1000, HEARD_AFTER,
                                     20 * math.log10(peak / 32768) if peak else float('-inf'),
                                     '+%.0f ms' % ((late - play) * 1000) if late is not None else 'none within 1 s'))
            if onset is not None:
                matched.add(onset)
                heard.append((i, onset))
                self.cut += dropouts(rec, onset) > 0
                self.from_play.append(onset - play)
                self.from_tick.append(onset - to_rec(tick.stop.time))
        self.heard += len(heard)
        if all_ticks[1:plays + 1]:
            # A second onset near a play is a chime cut in two by a dropout; one far from every play would be a chime
            # heard too late.
            times = [to_rec(t.play.time) for t in all_ticks]
            first, end = times[1] - HEARD_BEFORE, times[min(plays, len(times) - 1)] + HEARD_AFTER
            self.stray += ['round %d: %+.0f ms from the nearest play' % (number, min((o - t for t in times), key=abs)
                                                                          * 1000)
                           for o in onsets if first <= o <= end and o not in matched]
        # Gaps only between chimes of consecutive ticks, so a chime lost on the way to the sink does not count as a
        # late tick.
        self.gap_errors += [b - a - 1.0 for (i, a), (j, b) in zip(heard, heard[1:]) if j == i + 1]
        if len(heard) >= 2:
            (i0, first), (i1, last) = heard[0], heard[-1]
            self.drift += (last - first) - (i1 - i0)
            self.intervals += i1 - i0


class Bench:
    def __init__(self, args):
        self.args, self.build = args, os.path.abspath(args.build)
        self.out, self.rig_dir = os.path.join(self.build, 'bench'), os.path.join(self.build, 'bench-rig')
        self.rows, self.notes = [], []  # rows: (section, measure, Halvory, minimal, ratio, note)
        self.plot_series = {}   # (arch, who) -> (gap errors, tick delays), seconds
        self.arches = [a for a in ARCHES if a[0] in args.arches.split(',')]
        os.makedirs(self.out, exist_ok=True)

    def row(self, section, measure, hv, note='', base='', rel=''):
        self.rows.append((section, measure, hv, base, rel, note))
        print('%-14s %-44s %s%s %s' % (section, measure, hv, ' | %s | %s' % (base, rel) if base or rel else '', note),
              flush=True)

    def up(self):
        def cc(triple, src, exe, *libs):
            exe = os.path.join(self.out, exe)
            subprocess.check_call([triple + '-gcc', '-O2', '-mwindows', os.path.join(ROOT, 'bench', src), '-o', exe]
                                  + list(libs))
            return exe
        self.idle_exe = cc('x86_64-w64-mingw32', 'idle.c', 'idle.exe')
        self.tray_exe = cc('x86_64-w64-mingw32', 'tray.c', 'tray.exe', '-lshell32')
        # A chiming program of each architecture, for each exe to be set against.
        self.chime_exe = {arch: cc(triple, 'chime.c', 'chime-%s.exe' % arch, '-lwinmm') for arch, _, triple in ARCHES}
        rigs.own_rig('up', self.build, 'bench-rig')
        # The driver is always the x86_64 tree's; Halvory is traced no more than the minimal programs.
        self.rigs = {arch: rigs.Rig(os.path.join(self.build, 'x86_64'), self.rig_dir,
                                    tools=os.path.join(self.build, arch),
                                    exe=os.path.join(self.build, 'release', name)) for arch, name, _ in ARCHES}
        for r in self.rigs.values():
            r.halvory_channels = ''
        self.rig = self.rigs['x86_64']

    def record(self, r, name, body):
        """body() with the sink recorded: (its result, recorder, trace stamp to recording time, 1 kHz onsets, times)."""
        rec = audio.Recorder(r, os.path.join(self.out, name)).start()
        offset = mcitrace.raw_minus_monotonic()
        try:
            result = body()
            # The sink's clock against the wall clock: a recorder that lost samples would shift every later onset.
            wall, recorded = time.monotonic() - rec.t0, rec.now()
        finally:
            rec.stop()
        t = time.monotonic()
        onsets = [s.start for s in rec.sounds() if near(s.pitch, 1000, 0.1)]
        # Trace stamps (CLOCK_MONOTONIC_RAW) onto the recording's clock.
        return result, rec, lambda t: t - offset - rec.t0, onsets, (wall, recorded, time.monotonic() - t)

    def timing(self):
        figures = [self.chime_timing(arch) for arch, _, _ in self.arches]
        for label, part, rest in (('lost plays', lambda f: len(f.lost), lambda f: f.heard),
                                  ('chimes with dropouts', lambda f: f.cut, lambda f: f.heard - f.cut)):
            (h, h_else), (b, b_else) = ((sum(part(f[who]) for f in figures), sum(rest(f[who]) for f in figures))
                                        for who in (HALVORY, MINIMAL))
            if len(figures) > 1:
                self.row('timing', label + ', both architectures', '%d of %d' % (h, h + h_else),
                         'two-sided Fisher exact p = %.2f (small p: the two differ)' % fisher_p(h, h_else, b, b_else),
                         '%d of %d' % (b, b + b_else), ratio(share(h, h + h_else), share(b, b + b_else)))

    def chime_timing(self, arch):
        """Halvory and the minimal chime program of one architecture, in alternating rounds, into one recording."""
        r, section, per_round = self.rigs[arch], 'timing ' + arch, self.args.round_plays
        rounds = max(1, math.ceil(self.args.plays / per_round))
        wav = windows_path(audio.make_tone(os.path.join(r.tmp, 'tick.wav'), 1000, 0.15))
        done = {HALVORY: [], MINIMAL: []}

        def chime_round(who):
            # One process's round: until the trace shows its plays, then long enough for the last to reach the sink.
            p = (r.start_halvory(1000, wav, traced=True) if who == HALVORY else
                 r.start_exe(self.chime_exe[arch], '1000', wav, env=mcitrace.trace_env(r.env), name='chime'))
            try:
                desktop.wait_until(lambda: p.poll() is not None or len(plays_of(p)) > per_round, per_round + 31, 0.5)
                time.sleep(0.7)
            finally:
                done[who].append((p, close(p, None if who == HALVORY else 'BenchChime')))

        def play_rounds():
            for k in range(rounds):     # each goes first in every other round, so neither always follows the other
                for who in (MINIMAL, HALVORY) if k % 2 else (HALVORY, MINIMAL):
                    chime_round(who)
        _, rec, to_rec, onsets, (wall, recorded, _) = self.record(r, 'timing-%s.raw' % arch, play_rounds)
        figures = {}
        for who in (HALVORY, MINIMAL):
            fig = figures[who] = ChimeFigures()
            for number, (p, code) in enumerate(done[who], start=1):
                fig.add_round(number, p, code, rec, onsets, to_rec, per_round)
            fig.gaps, fig.lost_share = [abs(e) for e in fig.gap_errors], share(len(fig.lost), fig.traced)
            self.plot_series[(arch, who)] = (fig.gap_errors, fig.from_tick)
            self.notes += ['%s, %s, lost play: %s' % (section, who, lost) for lost in fig.lost]
            self.notes += ['%s, %s, unmatched tone onset: %s' % (section, who, stray) for stray in fig.stray]
        hv, base = figures[HALVORY], figures[MINIMAL]
        # (measure, one program's figure, what a ratio sets against the other's, or 'trio' of a list's, note)
        for measure, show, rel, note in (
                ('plays traced (returned 0)', lambda f: '%d (%d)' % (f.traced, f.answered), None,
                 '%d rounds of %d each, alternating, after each process\'s first play' % (rounds, per_round)),
                ('chimes heard', lambda f: '%d of %d' % (f.heard, f.traced), lambda f: share(f.heard, f.traced),
                 'tone onsets on the sink from %d to +%d ms of a play' % (-HEARD_BEFORE * 1000, HEARD_AFTER * 1000)),
                ('chimes with dropouts', lambda f: '%d of %d' % (f.cut, f.heard), lambda f: share(f.cut, f.heard),
                 'digital silence of 5 ms or more inside the chime: the audio path ran dry; Fisher exact p = %.2f'
                 % fisher_p(hv.cut, hv.heard - hv.cut, base.cut, base.heard - base.cut)),
                ('lost: returned 0, not heard', lambda f: '%d (%.1f %%)' % (len(f.lost), 100 * f.lost_share),
                 lambda f: f.lost_share, 'Fisher exact p = %.2f; unmatched tone onsets %d / %d'
                 % (fisher_p(len(hv.lost), hv.heard, len(base.lost), base.heard), len(hv.stray), len(base.stray))),
                ('gap error (size) median / p95 / max', 'gaps', 'trio', '%d / %d gaps between chimes of consecutive '
                 'ticks, onset to onset - 1 s' % (len(hv.gaps), len(base.gaps))),
                ('cumulative drift', lambda f: '%s over %d intervals' % (ms(f.drift), f.intervals),
                 lambda f: abs(f.drift), 'last heard onset - first - intervals, summed over the rounds; '
                 'ratio of sizes'),
                ('tick to onset median / p95 / max', 'from_tick', 'trio',
                 'first MCI_STOP of the tick in the trace to the recorded onset'),
                ('MCI_PLAY to onset median / p95 / max', 'from_play', 'trio', ''),
                ('exit codes', lambda f: ' '.join(map(str, f.codes)), None, '')):
            if rel == 'trio':
                h, b = getattr(hv, show), getattr(base, show)
                h_ms, b_ms = (' / '.join('%.1f' % (v * 1000) for v in trio(x)) + ' ms' if x else 'none' for x in (h, b))
                self.row(section, measure, h_ms, note, b_ms,
                         ' / '.join(ratio(x, y) for x, y in zip(trio(h), trio(b))) if h and b else 'n/a')
            else:
                self.row(section, measure, show(hv), note, show(base), ratio(rel(hv), rel(base)) if rel else '')
        self.row(section, 'recording against the wall clock', ms(recorded - wall),
                 '%.0f s recorded, both programs' % recorded)
        return figures

    def idle(self):
        r, secs, cpu = self.rig, self.args.idle_seconds, []
        wineserver = int(open(os.path.join(self.rig_dir, 'wineserver.pid')).read())
        for start, cls in ((lambda: r.start_halvory(HOUR_MS, windows_path(os.path.join(r.tmp, 'none.wav'))), None),
                           (lambda: r.start_exe(self.idle_exe, name='idle'), 'BenchIdle')):
            p = start()
            if cls and not r.find_window(cls, cls, 20000):
                raise RuntimeError('the minimal idle program made no window (%s)' % p.how())
            time.sleep(3)       # past the start-up work
            c0, w0 = cpu_seconds(p.pid), cpu_seconds(wineserver)
            time.sleep(secs)
            cpu.append((cpu_seconds(p.pid) - c0, cpu_seconds(wineserver) - w0))
            close(p, cls)
        (hv, hv_ws), (base, base_ws) = cpu
        self.row('idle x86_64', 'CPU over %d s (1 h interval)' % secs, '%.0f µs' % (hv * 1e6),
                 'scheduler CPU time of all threads; minimal: a message loop (bench/idle.c); '
                 'wineserver meanwhile %s / %s' % (ms(hv_ws), ms(base_ws)), '%.0f µs' % (base * 1e6),
                 ratio(hv, base) if base > 0 else ('both 0: neither ran while idle' if hv == 0 else 'n/a (minimal 0)'))

    def startup(self):
        r = self.rig

        def icon_shown():
            # An empty cell is one colour, the taskbar's white or, with the taskbar hidden, the desktop's blue; which
            # of the two changes as icons come and go, so the cell is judged by itself, not against an earlier picture.
            pixels = [rgb for _, _, rgb in desktop.Shot(r).pixels(cell[0] - 8, cell[1] - 8, 16, 16)]
            common = collections.Counter(pixels).most_common(1)[0][0]
            return sum(1 for p in pixels if max(abs(p[k] - common[k]) for k in range(3)) > 40) >= 40

        def launch_to_icon(start, cls):
            # The icon of the program before can outlast its process by a while; a launch timed while it is still
            # there would see it at once.
            if not desktop.wait_until(lambda: not icon_shown(), 10, 0.2):
                self.notes.append('start-up: the first tray cell still showed an icon 10 s after the program '
                                  'before had ended; that launch was left out')
                return None
            p, seen = start(), None
            while seen is None and time.monotonic() - p.started < 30:
                t = time.monotonic()    # before the screenshot that may show it
                seen = t - p.started if icon_shown() else None
            if cls:     # the tray program's icon can show before the driver finds its window: close() waits
                if close(p, cls) == 'hung':
                    self.notes.append('start-up: a minimal tray program did not end within 30 s of WM_CLOSE; '
                                      'ended by its id')
            else:
                p.hwnd = r.main_window(10000)
                close(p) if p.hwnd else p.end()
            time.sleep(1)
            return seen
        # The centre of the tray's first icon cell, wherever the desktop shows it: found by Halvory's own icon, before
        # anything is timed. The settings it stores (a 1 h interval, no sound) stay for the launches.
        p = r.start_halvory(HOUR_MS, windows_path(os.path.join(r.tmp, 'none.wav')))
        look, cell, shot = desktop.wait_tray(r, 'running', 20)
        close(p)
        if look != 'running':
            raise RuntimeError('start-up: Halvory\'s icon did not show (%s)' % shot)
        programs, seen = ((r.run_halvory, None), (lambda: r.start_exe(self.tray_exe), 'BenchTray')), ([], [])
        for i in range(self.args.startup_runs):
            for k in (1, 0) if i % 2 else (0, 1):  # alternating which goes first, so neither always follows the other
                seen[k].append(launch_to_icon(*programs[k]))
        hv, base = ([x for x in s if x is not None] for s in seen)
        span = lambda s: '%s-%s' % (ms(min(s)), ms(max(s))) if s else '---'  # noqa: E731
        median = lambda s: ms(statistics.median(s)) if s else 'not seen'  # noqa: E731
        self.row('start-up x86_64', 'launch to tray icon, median of %d / %d' % (len(hv), len(base)), median(hv),
                 'minimal: one tray icon (bench/tray.c); min-max %s / %s' % (span(hv), span(base)), median(base),
                 ratio(statistics.median(hv), statistics.median(base)) if hv and base else 'n/a')

    def size(self):
        for arch, name, triple in ARCHES:
            exe, built = os.path.join(self.build, 'release', name), os.path.join(self.build, arch, 'halvory.exe')
            dump = subprocess.check_output([triple + '-objdump', '-p', exe], text=True)
            dlls = [line.split(':', 1)[1].strip() for line in dump.splitlines() if 'DLL Name:' in line]
            self.row('size', '%s (%s, stripped, as shipped)' % (name, arch), '{:,} bytes'.format(os.path.getsize(exe)),
                     'unstripped in the build tree {:,} bytes'.format(os.path.getsize(built))
                     if os.path.exists(built) else '')
            self.row('size', '%s imports' % name, ', '.join(dlls), '%d DLLs' % len(dlls))

    def watch(self, section, p, seconds):
        """A process's memory and open files from now until `seconds` have passed or it ended: (first (kB, fds),
        last or None when it ended (then the tail of its log is kept beside the report), peak kB)."""
        def now():
            with open('/proc/%d/status' % p.pid) as f:
                rss = next((int(line.split()[1]) for line in f if line.startswith('VmRSS:')), 0)
            return rss, len(os.listdir('/proc/%d/fd' % p.pid))
        first, end = now(), time.monotonic() + seconds
        peak = first[0]
        while time.monotonic() < end and p.poll() is None:
            time.sleep(5)
            peak = max(peak, now()[0])
        if p.poll() is None:
            return first, now(), peak
        path = os.path.join(self.out, '%s-ended.log' % section.replace(' ', '-'))
        with open(path, 'w') as f:
            f.write('exit code %s; the last 400 lines of %s:\n%s' % (p.poll(), p.log, p.tail(400)))
        self.notes.append('%s: the process ended by itself with exit code %s; the tail of its log is in %s'
                          % (section, p.poll(), path))
        return first, None, peak

    def memory_rows(self, section, first, last, peak, note=''):
        self.row(section, 'VmRSS at start / end / peak', '{:,} / {:,} / {:,} kB'.format(first[0], last[0], peak), note)
        self.row(section, 'open fds of the process at start / end', '%d / %d' % (first[1], last[1]))

    def soak(self):
        for arch, _, _ in self.arches:
            r, section, secs = self.rigs[arch], 'soak ' + arch, int(self.args.soak_minutes * 60)
            p = r.start_halvory(0, windows_path(audio.make_tone(os.path.join(r.tmp, 'soak.wav'), 800, 0.1)),
                                traced=True)
            plays = lambda: (sum(c.command == 'MCI_PLAY' for c in p.calls()), time.monotonic())  # noqa: E731
            time.sleep(10)          # settled: devices opened, buffers allocated
            plays0 = plays()
            first, last, peak = self.watch(section, p, secs - 10)
            plays1 = plays()
            self.row(section, 'duration, interval 0', '%d s' % secs, 'media trace on')
            self.row(section, 'alive at the end / exit code', '%s / %s' % (last is not None, close(p)))
            if last:
                self.row(section, 'restarts per second (MCI_PLAY in trace)',
                         '%.1f' % ((plays1[0] - plays0[0]) / (plays1[1] - plays0[1])))
                self.memory_rows(section, first, last, peak)
            if os.path.exists(p.log):
                os.remove(p.log)        # large: every restart is traced

    def long(self):
        """Halvory at a 10 s interval for --long-minutes, heard and traced."""
        for arch, _, _ in self.arches:
            r, section, secs = self.rigs[arch], 'long ' + arch, self.args.long_minutes * 60
            wav = windows_path(audio.make_tone(os.path.join(r.tmp, 'long.wav'), 1000, 0.15))

            def run():
                p = r.start_halvory(10000, wav, traced=True)
                started = time.monotonic()
                # From the first chime on: its device is open and its buffers made.
                desktop.wait_until(lambda: p.poll() is not None or plays_of(p), 40, 0.5)
                time.sleep(1)
                watched = self.watch(section, p, secs - (time.monotonic() - started))
                code = close(p)
                time.sleep(0.7)
                return p, code, watched
            (p, code, (first, last, peak)), rec, to_rec, onsets, (wall, recorded, analysis) = self.record(
                r, 'long-%s.raw' % arch, run)
            ticks = [k for k in plays_of(p) if to_rec(k.play.time) < recorded - HEARD_AFTER]
            heard = [(i, o) for i, o in enumerate(onset_after(onsets, to_rec(k.play.time)) for k in ticks)
                     if o is not None]
            self.row(section, 'duration, interval 10 s', '%.1f min' % (secs / 60.0),
                     'media trace on, sink recorded; alive at the end %s, exit code %s' % (last is not None, code))
            self.row(section, 'plays traced (returned 0) / chimes heard',
                     '%d (%d) / %d' % (len(ticks), sum(1 for k in ticks if k.play.rc == 0), len(heard)),
                     '%d heard with dropouts (digital silence of 5 ms or more inside)'
                     % sum(dropouts(rec, onset) > 0 for _, onset in heard))
            # From the second play on: the first opens the devices cold and is heard later than the rest.
            warm = [(i, onset) for i, onset in heard if i >= 1]
            if len(warm) >= 2:
                (i0, a), (i1, b) = warm[0], warm[-1]
                self.row(section, 'drift at the end (heard)', ms((b - a) - (i1 - i0) * 10),
                         'last heard onset - first - %d x 10 s, from the second play on' % (i1 - i0))
            if len(ticks) >= 3:
                self.row(section, 'drift at the end (traced plays)',
                         ms(ticks[-1].play.time - ticks[1].play.time - (len(ticks) - 2) * 10),
                         'last MCI_PLAY - second - %d x 10 s, on the trace\'s clock' % (len(ticks) - 2))
            self.row(section, 'recording against the wall clock', ms(recorded - wall),
                     '%.0f s recorded; analysed in %.1f s' % (recorded, analysis))
            if last:
                self.memory_rows(section, first, last, peak, 'start: 1 s after the first play')
            os.remove(rec.path)     # 5 MB a minute

    def plot(self):
        dat = lambda kind, arch, who: os.path.join(self.out, '%s-%s-%s.dat' % (kind, arch, who))  # noqa: E731
        for (arch, who), series in self.plot_series.items():
            for kind, values in zip(('gaps', 'delays'), series):
                with open(dat(kind, arch, who), 'w') as f:
                    f.writelines('%d %.3f\n' % (i + 1, v * 1000) for i, v in enumerate(values))
        arches = [a for a, _, _ in self.arches if (a, HALVORY) in self.plot_series]
        lines = ['set terminal pngcairo size 1000,%d noenhanced' % (330 * len(arches) + 40),
                 "set output '%s'" % os.path.join(self.out, 'gaps.png'),
                 'set multiplot layout %d,2 title "Halvory against a minimal chime program: '
                 '1 s interval, 0.15 s WAV, heard on the sound sink (Wine 8)"' % len(arches),
                 'set grid', 'set key below horizontal', "set ylabel 'milliseconds'"]
        for arch in arches:
            for kind, title, xlabel in (('gaps', 'gap error (onset to onset - 1000 ms)', 'gap'),
                                        ('delays', 'tick (first MCI_STOP) to audio onset', 'chime')):
                lines += ["set title '%s: %s'" % (arch, title), "set xlabel '%s'" % xlabel,
                          "plot '%s' using 1:2 with linespoints pt 7 ps 0.5 title 'Halvory', "
                          "'%s' using 1:2 with linespoints pt 6 ps 0.5 title 'minimal'"
                          % (dat(kind, arch, HALVORY), dat(kind, arch, MINIMAL))]
        script = '\n'.join(lines + ['unset multiplot']) + '\n'
        if arches and subprocess.run(['gnuplot'], input=script, text=True).returncode:
            subprocess.run(['gnuplot'], input=script.replace('pngcairo', 'png'), text=True)

    def run(self):
        began, load = time.monotonic(), lambda: open('/proc/loadavg').read().split()[0]
        load_start = load()
        sections = [s for s in [s for s in self.args.only.split(',') if s] or SECTIONS
                    if getattr(self.args, s + '_minutes', 1) > 0]
        try:
            try:
                self.up()
            except Exception as e:
                self.notes.append('setup failed: %s' % e)
                traceback.print_exc()
                sections = [s for s in sections if s == 'size']
            for name in sections:
                t = time.monotonic()
                try:
                    getattr(self, name)()
                except Exception as e:
                    traceback.print_exc()
                    self.row(name, 'failed', type(e).__name__, str(e)[:120])
                if hasattr(self, 'rig'):
                    self.rig.close_leftovers(fail=False)
                self.notes.append('%s took %.0f s' % (name, time.monotonic() - t))
        finally:
            for r in getattr(self, 'rigs', {}).values():
                try:
                    r.end_all()
                except Exception:
                    pass
            rigs.own_rig('down', self.build, 'bench-rig')
        self.plot()
        wine = subprocess.run(['/usr/lib/wine/wine64', '--version'], capture_output=True, text=True).stdout.strip()
        lines = ['# Halvory benchmark', '', 'Measured %s on %s (%d cores, load average %s at the start, %s at the '
                 'end), %s; the release exes of build/release; i686 runs under emulation here. Took %.0f s.' % (
                     time.strftime('%Y-%m-%d %H:%M'), os.uname().nodename, os.cpu_count(), load_start, load(), wine,
                     time.monotonic() - began), '',
                 '| section | measure | Halvory | minimal | Halvory / minimal | note |', '|---|---|---|---|---|---|']
        lines += ['| %s |' % ' | '.join(str(c).replace('|', '/') for c in row) for row in self.rows]
        lines += [''] + ['- ' + n for n in self.notes] + ['', 'Plot: gaps.png. Reproduce with `make bench`.', '']
        with open(os.path.join(self.out, 'report.md'), 'w') as f:
            f.write('\n'.join(lines))
        print('report: %s' % os.path.join(self.out, 'report.md'))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    for flag, default, help in (
            ('build', 'build', None), ('plays', 60, 'timed plays per program and architecture'),
            ('round-plays', 10, 'timed plays per round (each process plays one more first)'),
            ('idle-seconds', 60, None), ('startup-runs', 5, None), ('soak-minutes', 10.0, '0: no soak'),
            ('long-minutes', 10.0, '0: no long run'),
            ('arches', 'i686,x86_64', 'the exes timing, soak and long run measure'),
            ('only', '', 'comma-separated sections: ' + ','.join(SECTIONS))):
        parser.add_argument('--' + flag, type=type(default), default=default, help=help)
    try:
        Bench(parser.parse_args()).run()
    except Exception:
        traceback.print_exc()


if __name__ == '__main__':
    main()
