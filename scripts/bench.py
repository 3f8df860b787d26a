#!/usr/bin/env python3
"""Halvory's benchmark: measures and reports, never fails.

    scripts/bench.py [--build build] [--plays 60] [--long-minutes 10] [--soak-minutes 10] ...

Runs the release exes (BUILD/release) under Wine in a rig of its own
(BUILD/bench-rig), each against minimal programs of its architecture
(bench/*.c), and writes BUILD/bench/report.md and BUILD/bench/gaps.png. The
sections (timing, idle, start-up, size, soak, long) and their figures are
described in the README's Benchmark section.
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
from rig import WM_CLOSE, windows_path  # noqa: E402
from timeline import near  # noqa: E402

HOUR_MS = 3600000
RATE = audio.RATE
# (architecture, release exe, tool prefix). The 32-bit exe is the release.
ARCHES = (('i686', 'halvory.exe', 'i686-w64-mingw32'),
          ('x86_64', 'halvory-x64.exe', 'x86_64-w64-mingw32'))
HALVORY, MINIMAL = 'Halvory', 'minimal'
# A play is heard when a tone starts this soon around it (seconds): a WAV
# starts 10-40 ms after the play, a loaded machine's up to ~250 ms.
HEARD_BEFORE, HEARD_AFTER = 0.05, 0.6


# -- a Wine process seen from Linux --------------------------------------------
def cpu_seconds(pid):
    """CPU time of a Linux process and all its threads, in seconds: the
    scheduler's own count (nanoseconds), not utime+stime, whose 10 ms ticks
    are coarser than an idle minute of either program."""
    total = 0
    for tid in os.listdir('/proc/%d/task' % pid):
        try:
            with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass    # a thread that ended meanwhile
    return total / 1e9


def rss_kb(pid):
    with open('/proc/%d/status' % pid) as f:
        return next((int(line.split()[1]) for line in f if line.startswith('VmRSS:')), 0)


def fd_count(pid):
    return len(os.listdir('/proc/%d/fd' % pid))


def finish(p, code):
    """A measured process's exit code, or 'hung' when it did not end (then
    it is ended by its id)."""
    if code is None:
        p.end()
        return 'hung'
    return code


def exit_halvory(hv):
    """Ends a Halvory through its menu's exit command: finish()."""
    return finish(hv, hv.exit(30)) if hv.poll() is None else hv.poll()


def close_window(p, cls):
    """Ends a minimal program by WM_CLOSE to its window: finish()."""
    hwnd = p.rig.find_window(cls, cls, 10000)
    if hwnd:
        p.rig.post(hwnd, WM_CLOSE)
    return finish(p, p.wait(30))


def plays_of(p):
    """The restarts of the sound in a traced program's log that went as far
    as the play: each a timer tick's stop, close, open and play."""
    return [k for k in mcitrace.restarts(p.calls()) if k.play]


# -- what the sink played ----------------------------------------------------------
def tone_onsets(rec, freq):
    """Recording times (s) of every stretch of sound at freq (±10 %)."""
    return [s.start for s in rec.sounds() if near(s.pitch, freq, 0.1)]


def dropouts(rec, onset, within=0.25, least=0.005):
    """How many stretches of digital silence (exact zeros) of at least
    `least` seconds lie inside the chime that starts at onset (before its
    last loud sample within `within` s): the audio path ran dry while it
    played, and the chime came out cut."""
    a = int(onset * RATE)
    s = rec.samples(a, a + int(within * RATE))
    end = max((i for i, x in enumerate(s) if abs(x) >= 1024), default=0)
    count = run = 0
    for x in s[:end]:
        count += x != 0 and run >= least * RATE
        run = run + 1 if x == 0 else 0
    return count


def peak_dbfs(rec, t_from, t_to):
    """The loudest sample between two recording times, in dBFS."""
    peak = max((abs(x) for x in rec.samples(int(t_from * RATE), int(t_to * RATE))), default=0)
    return 20 * math.log10(peak / 32768) if peak else float('-inf')


def onset_after(onsets, t, within=HEARD_AFTER, before=HEARD_BEFORE):
    """The first onset from t - before to t + within, or None."""
    i = bisect.bisect_left(onsets, t - before)
    return onsets[i] if i < len(onsets) and onsets[i] <= t + within else None


# -- figures ------------------------------------------------------------------
def ms(x):
    return '%.1f ms' % (x * 1000)


def trio(values):
    """(median, p95, max) of a list that is not empty."""
    s = sorted(values)
    return statistics.median(s), s[int(round(0.95 * (len(s) - 1)))], s[-1]


def trio_ms(values):
    return ' / '.join('%.1f' % (v * 1000) for v in trio(values)) + ' ms' if values else 'none'


def ratio(a, b):
    if a != a or b != b:
        return 'n/a'
    if b == 0:
        return 'n/a (minimal 0)' if a else 'n/a (both 0)'
    return '%.2f' % (a / b)


def trio_ratio(a, b):
    return ' / '.join(ratio(x, y) for x, y in zip(trio(a), trio(b))) if a and b else 'n/a'


def share(part, whole):
    return part / max(1, whole)


def fisher_p(a, b, c, d):
    """Two-sided Fisher exact test of the table [[a, b], [c, d]]: how likely
    two shares as far apart as a/(a+b) and c/(c+d) are when both programs
    lose plays at the same rate."""
    n1, n2, k = a + b, c + d, a + c

    def prob(x):
        return math.comb(n1, x) * math.comb(n2, k - x) / math.comb(n1 + n2, k)
    seen = prob(a)
    return min(1.0, sum(prob(x) for x in range(max(0, k - n2), min(k, n1) + 1) if prob(x) <= seen * (1 + 1e-9)))


class ChimeFigures:
    """What the trace and the recording say about one program's rounds."""

    def __init__(self):
        self.traced = self.answered = self.heard = self.cut = 0   # plays; returned 0; heard; heard with dropouts
        self.lost = []          # descriptions of the plays answered 0, not heard
        self.gap_errors = []    # seconds, between chimes of consecutive ticks
        self.drift, self.intervals = 0.0, 0     # summed over the rounds, over this many intervals
        self.from_tick, self.from_play = [], []
        self.stray = []         # tone onsets of a round that no play explains
        self.codes = []

    def add_round(self, number, p, code, rec, onsets, to_rec, plays, interval):
        """Adds the plays 1..plays of one round's program (the first play of
        a process is slower: devices open cold)."""
        self.codes.append(code)
        all_ticks = plays_of(p)
        heard, matched = [], set()
        for i, tick in enumerate(all_ticks[1:plays + 1], start=1):
            play = to_rec(tick.play.time)
            self.traced += 1
            self.answered += tick.play.rc == 0
            onset = onset_after(onsets, play)
            if onset is None:
                if tick.play.rc == 0:
                    self.lost.append(self.describe_lost(number, i, tick, play, rec, onsets))
                continue
            matched.add(onset)
            heard.append((i, onset))
            self.cut += dropouts(rec, onset) > 0
            self.from_play.append(onset - play)
            self.from_tick.append(onset - to_rec(tick.stop.time))
        self.heard += len(heard)
        if all_ticks[1:plays + 1]:
            # A second onset near a play is a chime cut in two by a dropout;
            # one far from every play would be a chime heard too late.
            times = [to_rec(t.play.time) for t in all_ticks]
            first, end = times[1] - HEARD_BEFORE, times[min(plays, len(times) - 1)] + HEARD_AFTER
            for o in onsets:
                if first <= o <= end and o not in matched:
                    closest = min(times, key=lambda t: abs(o - t))
                    self.stray.append('round %d: %+.0f ms from the nearest play' % (number, (o - closest) * 1000))
        # Gaps only between chimes of consecutive ticks, so a chime lost on
        # the way to the sink does not count as a late tick.
        self.gap_errors += [b - a - interval for (i, a), (j, b) in zip(heard, heard[1:]) if j == i + 1]
        if len(heard) >= 2:
            (i0, first), (i1, last) = heard[0], heard[-1]
            self.drift += (last - first) - (i1 - i0) * interval
            self.intervals += i1 - i0

    @staticmethod
    def describe_lost(number, i, tick, play, rec, onsets):
        late = onset_after(onsets, play, within=1.0, before=0)
        return ('round %d play %d: device %d, open to play %.1f ms, loudest on the sink in the next %.1f s '
                '%.1f dBFS, next tone onset %s' % (
                    number, i, tick.play.device, (tick.play.time - tick.open.time) * 1000, HEARD_AFTER,
                    peak_dbfs(rec, play, play + HEARD_AFTER),
                    '+%.0f ms' % ((late - play) * 1000) if late is not None else 'none within 1 s'))


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.out = os.path.join(self.build, 'bench')
        self.rig_dir = os.path.join(self.build, 'bench-rig')
        self.rows = []          # (section, measure, Halvory, minimal, ratio, note)
        self.notes = []
        self.plot_series = {}   # (arch, who) -> (gap errors, tick delays), seconds
        self.arches = [a for a in ARCHES if a[0] in args.arches.split(',')]
        os.makedirs(self.out, exist_ok=True)

    def compare(self, section, measure, hv, base='', rel='', note=''):
        self.rows.append((section, measure, hv, base, rel, note))
        print('%-14s %-44s %s%s %s' % (section, measure, hv, ' | %s | %s' % (base, rel) if base or rel else '',
                                      note), flush=True)

    def row(self, section, measure, value, note=''):
        self.compare(section, measure, value, note=note)

    # -- setting up ----------------------------------------------------------
    def build_baselines(self):
        def cc(triple, src, exe, *libs):
            subprocess.check_call([triple + '-gcc', '-O2', '-mwindows', os.path.join(ROOT, 'bench', src),
                                   '-o', os.path.join(self.out, exe)] + list(libs))
            return os.path.join(self.out, exe)
        self.idle_exe = cc('x86_64-w64-mingw32', 'idle.c', 'idle.exe')
        self.tray_exe = cc('x86_64-w64-mingw32', 'tray.c', 'tray.exe', '-lshell32')
        # A chiming program of each architecture, for each exe to be set against.
        self.chime_exe = {arch: cc(triple, 'chime.c', 'chime-%s.exe' % arch, '-lwinmm') for arch, _, triple in ARCHES}

    def up(self):
        rigs.own_rig('up', self.build, 'bench-rig')
        tree = os.path.join(self.build, 'x86_64')      # the driver is always the x86_64 tree's
        self.rigs = {arch: rigs.Rig(tree, self.rig_dir, exe=os.path.join(self.build, 'release', name),
                                    tools=os.path.join(self.build, arch))
                     for arch, name, _ in ARCHES}
        for r in self.rigs.values():
            r.halvory_channels = ''     # traced no more than the minimal programs
        self.rig = self.rigs['x86_64']

    def down(self):
        for r in getattr(self, 'rigs', {}).values():
            try:
                r.end_all()
            except Exception:
                pass
        rigs.own_rig('down', self.build, 'bench-rig')

    # -- timing ----------------------------------------------------------------
    def chime_round(self, r, who, arch, wav, plays):
        """One process's round: until the trace shows its plays, then long
        enough for the last to reach the recording."""
        if who == HALVORY:
            p, close = r.start_halvory(1000, windows_path(wav), traced=True), exit_halvory
        else:
            p = r.start_exe(self.chime_exe[arch], '1000', windows_path(wav), env=mcitrace.trace_env(r.env),
                            name='chime')
            close = lambda p: close_window(p, 'BenchChime')  # noqa: E731
        try:
            desktop.wait_until(lambda: p.poll() is not None or len(plays_of(p)) >= plays, plays + 30, 0.5)
            time.sleep(0.7)
        finally:
            code = close(p)
        return p, code

    def timing(self):
        # Over both architectures: [lost, heard] and [cut, heard whole].
        lost = {HALVORY: [0, 0], MINIMAL: [0, 0]}
        cut = {HALVORY: [0, 0], MINIMAL: [0, 0]}
        for arch, _, _ in self.arches:
            for who, fig in self.chime_timing(arch).items():
                lost[who][0] += len(fig.lost)
                lost[who][1] += fig.heard
                cut[who][0] += fig.cut
                cut[who][1] += fig.heard - fig.cut
        if len(self.arches) > 1:
            for label, counts in (('lost plays, both architectures', lost),
                                  ('chimes with dropouts, both architectures', cut)):
                (h, h_else), (b, b_else) = counts[HALVORY], counts[MINIMAL]
                self.compare('timing', label, '%d of %d' % (h, h + h_else), '%d of %d' % (b, b + b_else),
                             ratio(share(h, h + h_else), share(b, b + b_else)),
                             'two-sided Fisher exact p = %.2f (small p: the two differ)' % fisher_p(h, h_else, b, b_else))

    def chime_timing(self, arch):
        """Halvory and the minimal chime program of one architecture, in
        alternating rounds, into one recording."""
        r = self.rigs[arch]
        section = 'timing ' + arch
        per_round = self.args.round_plays
        rounds = max(1, math.ceil(self.args.plays / per_round))
        wav = audio.make_tone(os.path.join(r.tmp, 'tick.wav'), 1000, 0.15)
        rec = audio.Recorder(r, os.path.join(self.out, 'timing-%s.raw' % arch)).start()
        offset = mcitrace.raw_minus_monotonic()
        done = {HALVORY: [], MINIMAL: []}
        try:
            for k in range(rounds):
                # Each goes first in every other round, so neither always follows the other.
                for who in (HALVORY, MINIMAL) if k % 2 == 0 else (MINIMAL, HALVORY):
                    done[who].append(self.chime_round(r, who, arch, wav, per_round + 1))
            # A recorder that lost samples would shift every later onset.
            wall, recorded = time.monotonic() - rec.t0, rec.now()
        finally:
            rec.stop()
        onsets = tone_onsets(rec, 1000)
        figures = {}
        for who in (HALVORY, MINIMAL):
            fig = figures[who] = ChimeFigures()
            for number, (p, code) in enumerate(done[who], start=1):
                # Trace stamps (CLOCK_MONOTONIC_RAW) onto the recording's clock.
                fig.add_round(number, p, code, rec, onsets, lambda t: t - offset - rec.t0, per_round, 1.0)
            self.plot_series[(arch, who)] = (fig.gap_errors, fig.from_tick)
            self.notes += ['%s, %s, lost play: %s' % (section, who, lost) for lost in fig.lost]
            self.notes += ['%s, %s, unmatched tone onset: %s' % (section, who, stray) for stray in fig.stray]
        self.report_chimes(section, figures[HALVORY], figures[MINIMAL], rounds, per_round)
        self.row(section, 'recording against the wall clock', ms(recorded - wall), '%.0f s recorded, both programs' % recorded)
        return figures

    def report_chimes(self, section, hv, base, rounds, per_round):
        hl, bl = len(hv.lost), len(base.lost)
        hv_abs, base_abs = [abs(e) for e in hv.gap_errors], [abs(e) for e in base.gap_errors]
        for measure, h, b, rel, note in (
                ('plays traced (returned 0)', '%d (%d)' % (hv.traced, hv.answered), '%d (%d)' % (base.traced, base.answered),
                 '', '%d rounds of %d each, alternating, after each process\'s first play' % (rounds, per_round)),
                ('chimes heard', '%d of %d' % (hv.heard, hv.traced), '%d of %d' % (base.heard, base.traced),
                 ratio(share(hv.heard, hv.traced), share(base.heard, base.traced)),
                 'tone onsets on the sink from %d to +%d ms of a play' % (-HEARD_BEFORE * 1000, HEARD_AFTER * 1000)),
                ('chimes with dropouts', '%d of %d' % (hv.cut, hv.heard), '%d of %d' % (base.cut, base.heard),
                 ratio(share(hv.cut, hv.heard), share(base.cut, base.heard)),
                 'digital silence of 5 ms or more inside the chime: the audio path ran dry; Fisher exact p = %.2f'
                 % fisher_p(hv.cut, hv.heard - hv.cut, base.cut, base.heard - base.cut)),
                ('lost: returned 0, not heard', '%d (%.1f %%)' % (hl, 100.0 * share(hl, hv.traced)),
                 '%d (%.1f %%)' % (bl, 100.0 * share(bl, base.traced)), ratio(share(hl, hv.traced), share(bl, base.traced)),
                 'Fisher exact p = %.2f; unmatched tone onsets %d / %d'
                 % (fisher_p(hl, hv.heard, bl, base.heard), len(hv.stray), len(base.stray))),
                ('gap error (size) median / p95 / max', trio_ms(hv_abs), trio_ms(base_abs), trio_ratio(hv_abs, base_abs),
                 '%d / %d gaps between chimes of consecutive ticks, onset to onset - 1 s' % (len(hv_abs), len(base_abs))),
                ('cumulative drift', '%s over %d intervals' % (ms(hv.drift), hv.intervals),
                 '%s over %d intervals' % (ms(base.drift), base.intervals), ratio(abs(hv.drift), abs(base.drift)),
                 'last heard onset - first - intervals, summed over the rounds; ratio of sizes'),
                ('tick to onset median / p95 / max', trio_ms(hv.from_tick), trio_ms(base.from_tick),
                 trio_ratio(hv.from_tick, base.from_tick), 'first MCI_STOP of the tick in the trace to the recorded onset'),
                ('MCI_PLAY to onset median / p95 / max', trio_ms(hv.from_play), trio_ms(base.from_play),
                 trio_ratio(hv.from_play, base.from_play), ''),
                ('exit codes', ' '.join(map(str, hv.codes)), ' '.join(map(str, base.codes)), '', '')):
            self.compare(section, measure, h, b, rel, note)

    # -- idle and start-up (the x86_64 exe) -------------------------------------
    def cpu_over(self, p, seconds):
        time.sleep(3)       # past the start-up work
        wineserver = int(open(os.path.join(self.rig_dir, 'wineserver.pid')).read())
        c0, w0 = cpu_seconds(p.pid), cpu_seconds(wineserver)
        time.sleep(seconds)
        return cpu_seconds(p.pid) - c0, cpu_seconds(wineserver) - w0

    def idle(self):
        r, secs = self.rig, self.args.idle_seconds
        p = r.start_halvory(HOUR_MS, windows_path(os.path.join(r.tmp, 'none.wav')))
        hv, hv_ws = self.cpu_over(p, secs)
        exit_halvory(p)
        b = r.start_exe(self.idle_exe, name='idle')
        if not r.find_window('BenchIdle', 'BenchIdle', 20000):
            raise RuntimeError('the minimal idle program made no window (%s)' % b.how())
        base, base_ws = self.cpu_over(b, secs)
        close_window(b, 'BenchIdle')
        self.compare('idle x86_64', 'CPU over %d s (1 h interval)' % secs, '%.0f µs' % (hv * 1e6), '%.0f µs' % (base * 1e6),
                     ratio(hv, base) if base > 0 else ('both 0: neither ran while idle' if hv == 0 else 'n/a (minimal 0)'),
                     'scheduler CPU time of all threads; minimal: a message loop (bench/idle.c); '
                     'wineserver meanwhile %s / %s' % (ms(hv_ws), ms(base_ws)))

    def icon_shown(self):
        """Whether the first tray icon's cell shows an icon. An empty cell is
        one colour, the taskbar's white or, with the taskbar hidden, the
        desktop's blue; which of the two changes as icons come and go, so
        the cell is judged by itself, not against an earlier picture."""
        cx, cy = self.cell
        pixels = [rgb for _, _, rgb in desktop.Shot(self.rig).pixels(cx - 8, cy - 8, 16, 16)]
        common = collections.Counter(pixels).most_common(1)[0][0]
        return sum(1 for p in pixels if max(abs(p[k] - common[k]) for k in range(3)) > 40) >= 40

    def launch_to_icon(self, start, close):
        """Seconds from the spawn of start() to its icon in the first tray
        cell (None if not in 30 s); close(program) ends it."""
        # The icon of the program before can outlast its process by a while;
        # a launch timed while it is still there would see it at once.
        if not desktop.wait_until(lambda: not self.icon_shown(), 10, 0.2):
            self.notes.append('start-up: the first tray cell still showed an icon 10 s after the program '
                              'before had ended; that launch was left out')
            return None
        p, seen = start(), None
        while seen is None and time.monotonic() - p.started < 30:
            t = time.monotonic()
            seen = t - p.started if self.icon_shown() else None
        close(p)
        time.sleep(1)
        return seen

    def startup(self):
        r = self.rig
        # The centre of the tray's first icon cell, wherever the desktop shows
        # it: found by Halvory's own icon, before anything is timed. The
        # settings it stores (a 1 h interval, no sound) stay for the launches.
        p = r.start_halvory(HOUR_MS, windows_path(os.path.join(r.tmp, 'none.wav')))
        look, self.cell, shot = desktop.wait_tray(r, 'running', 20)
        exit_halvory(p)
        if look != 'running':
            raise SystemExit('start-up: Halvory\'s icon did not show (%s)' % shot)

        def close_halvory(p):
            p.hwnd = r.main_window(10000)
            exit_halvory(p) if p.hwnd else p.end()

        def close_tray(p):
            # Its icon can show before the driver finds its window: waited for.
            if close_window(p, 'BenchTray') == 'hung':
                self.notes.append('start-up: a minimal tray program did not end within 30 s of WM_CLOSE; ended by its id')
        programs = ((lambda: r.run_halvory(), close_halvory), (lambda: r.start_exe(self.tray_exe), close_tray))
        seen = ([], [])
        for i in range(self.args.startup_runs):
            # Alternating which goes first, so neither always follows the other.
            for k in (1, 0) if i % 2 else (0, 1):
                seen[k].append(self.launch_to_icon(*programs[k]))
        hv, base = ([x for x in s if x is not None] for s in seen)
        span = lambda s: '%s-%s' % (ms(min(s)), ms(max(s))) if s else '---'  # noqa: E731
        self.compare('start-up x86_64', 'launch to tray icon, median of %d / %d' % (len(hv), len(base)),
                     ms(statistics.median(hv)) if hv else 'not seen', ms(statistics.median(base)) if base else 'not seen',
                     ratio(statistics.median(hv), statistics.median(base)) if hv and base else 'n/a',
                     'minimal: one tray icon (bench/tray.c); min-max %s / %s' % (span(hv), span(base)))

    # -- size ----------------------------------------------------------------
    def size(self):
        for arch, name, triple in ARCHES:
            exe = os.path.join(self.build, 'release', name)
            built = os.path.join(self.build, arch, 'halvory.exe')
            dump = subprocess.check_output([triple + '-objdump', '-p', exe], text=True)
            dlls = [line.split(':', 1)[1].strip() for line in dump.splitlines() if 'DLL Name:' in line]
            self.row('size', '%s (%s, stripped, as shipped)' % (name, arch), '{:,} bytes'.format(os.path.getsize(exe)),
                     'unstripped in the build tree {:,} bytes'.format(os.path.getsize(built)) if os.path.exists(built) else '')
            self.row('size', '%s imports' % name, ', '.join(dlls), '%d DLLs' % len(dlls))

    # -- long runs ---------------------------------------------------------------
    def keep_evidence(self, section, p, lines=400):
        """A measured process ended by itself: the tail of its log (Wine's
        output and, traced, the media trace) is kept beside the report."""
        path = os.path.join(self.out, '%s-ended.log' % section.replace(' ', '-'))
        with open(path, 'w') as f:
            f.write('exit code %s; the last %d lines of %s:\n' % (p.poll(), lines, p.log))
            f.write(p.tail(lines))
        self.notes.append('%s: the process ended by itself with exit code %s; the tail of its log is in %s'
                          % (section, p.poll(), path))

    def memory_rows(self, section, first, last, peak, note=''):
        self.row(section, 'VmRSS at start / end / peak', '{:,} / {:,} / {:,} kB'.format(first[0], last[0], peak), note)
        self.row(section, 'open fds of the process at start / end', '%d / %d' % (first[1], last[1]))

    @staticmethod
    def watch(p, seconds):
        """A process's memory and open files from now until `seconds` have
        passed or it ended: (first (kB, fds), last or None when it ended, peak kB)."""
        first = (rss_kb(p.pid), fd_count(p.pid))
        peak, end = first[0], time.monotonic() + seconds
        while time.monotonic() < end and p.poll() is None:
            time.sleep(5)
            peak = max(peak, rss_kb(p.pid))
        return first, (rss_kb(p.pid), fd_count(p.pid)) if p.poll() is None else None, peak

    def soak(self):
        for arch, _, _ in self.arches:
            r, section, secs = self.rigs[arch], 'soak ' + arch, int(self.args.soak_minutes * 60)
            wav = audio.make_tone(os.path.join(r.tmp, 'soak.wav'), 800, 0.1)
            p = r.start_halvory(0, windows_path(wav), traced=True)

            def plays():
                return sum(c.command == 'MCI_PLAY' for c in p.calls()), time.monotonic()
            time.sleep(10)          # settled: devices opened, buffers allocated
            plays0 = plays()
            first, last, peak_rss = self.watch(p, secs - 10)
            alive, plays1 = last is not None, plays()
            code = exit_halvory(p)
            self.row(section, 'duration, interval 0', '%d s' % secs, 'media trace on')
            self.row(section, 'alive at the end / exit code', '%s / %s' % (alive, code))
            if not alive:
                self.keep_evidence(section, p)
            else:
                self.row(section, 'restarts per second (MCI_PLAY in trace)',
                         '%.1f' % ((plays1[0] - plays0[0]) / (plays1[1] - plays0[1])))
                self.memory_rows(section, first, last, peak_rss)
            try:
                os.remove(p.log)        # large: every restart is traced
            except OSError:
                pass

    def long(self):
        """Halvory at a 10 s interval for --long-minutes, heard and traced."""
        for arch, _, _ in self.arches:
            r, section, secs, interval = self.rigs[arch], 'long ' + arch, self.args.long_minutes * 60, 10.0
            wav = audio.make_tone(os.path.join(r.tmp, 'long.wav'), 1000, 0.15)
            rec = audio.Recorder(r, os.path.join(self.out, 'long-%s.raw' % arch)).start()
            offset = mcitrace.raw_minus_monotonic()
            try:
                p = r.start_halvory(int(interval * 1000), windows_path(wav), traced=True)
                started = time.monotonic()
                # From the first chime on: its device is open and its buffers made.
                desktop.wait_until(lambda: p.poll() is not None or plays_of(p), interval + 30, 0.5)
                time.sleep(1)
                first, last, peak_rss = self.watch(p, secs - (time.monotonic() - started))
                code = exit_halvory(p)
                time.sleep(0.7)
                # The sink's clock against the wall clock: a recording that lost
                # samples would shift every later onset.
                wall, recorded = time.monotonic() - rec.t0, rec.now()
            finally:
                rec.stop()
            t = time.monotonic()
            onsets = tone_onsets(rec, 1000)
            analysis = time.monotonic() - t
            ticks = [k for k in plays_of(p) if k.play.time - offset - rec.t0 < recorded - HEARD_AFTER]
            heard = [(i, onset) for i, onset in ((i, onset_after(onsets, k.play.time - offset - rec.t0))
                                                 for i, k in enumerate(ticks)) if onset is not None]
            cut = sum(dropouts(rec, onset) > 0 for _, onset in heard)
            if last is None:
                self.keep_evidence(section, p)
            self.row(section, 'duration, interval 10 s', '%.1f min' % (secs / 60.0),
                     'media trace on, sink recorded; alive at the end %s, exit code %s' % (last is not None, code))
            self.row(section, 'plays traced (returned 0) / chimes heard',
                     '%d (%d) / %d' % (len(ticks), sum(1 for k in ticks if k.play.rc == 0), len(heard)),
                     '%d heard with dropouts (digital silence of 5 ms or more inside)' % cut)
            # From the second play on: the first opens the devices cold and is
            # heard later than the rest.
            warm = [(i, onset) for i, onset in heard if i >= 1]
            if len(warm) >= 2:
                (i0, a), (i1, b) = warm[0], warm[-1]
                self.row(section, 'drift at the end (heard)', ms((b - a) - (i1 - i0) * interval),
                         'last heard onset - first - %d x 10 s, from the second play on' % (i1 - i0))
            if len(ticks) >= 3:
                self.row(section, 'drift at the end (traced plays)',
                         ms(ticks[-1].play.time - ticks[1].play.time - (len(ticks) - 2) * interval),
                         'last MCI_PLAY - second - %d x 10 s, on the trace\'s clock' % (len(ticks) - 2))
            self.row(section, 'recording against the wall clock', ms(recorded - wall),
                     '%.0f s recorded; analysed in %.1f s' % (recorded, analysis))
            if last:
                self.memory_rows(section, first, last, peak_rss, 'start: 1 s after the first play')
            os.remove(rec.path)     # 5 MB a minute

    # -- report ----------------------------------------------------------------
    def plot(self):
        series = {}
        for (arch, who), (gaps, delays) in self.plot_series.items():
            for kind, values in (('gaps', gaps), ('delays', delays)):
                path = series[(kind, arch, who)] = os.path.join(self.out, '%s-%s-%s.dat' % (kind, arch, who))
                with open(path, 'w') as f:
                    f.writelines('%d %.3f\n' % (i + 1, v * 1000) for i, v in enumerate(values))
        arches = [a for a, _, _ in self.arches if ('gaps', a, HALVORY) in series]
        if not arches:
            return
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
                          % (series[(kind, arch, HALVORY)], series[(kind, arch, MINIMAL)])]
        script = '\n'.join(lines + ['unset multiplot']) + '\n'
        try:
            subprocess.run(['gnuplot'], input=script, text=True, check=True)
        except Exception:
            subprocess.run(['gnuplot'], input=script.replace('pngcairo', 'png'), text=True)

    def write_report(self, load_start, took):
        wine = subprocess.run(['/usr/lib/wine/wine64', '--version'], capture_output=True, text=True).stdout.strip()
        lines = ['# Halvory benchmark', '',
                 'Measured %s on %s (%d cores, load average %s at the start, %s at the end), %s; '
                 'the release exes of build/release; i686 runs under emulation here. Took %.0f s.' % (
                     time.strftime('%Y-%m-%d %H:%M'), os.uname().nodename, os.cpu_count(), load_start,
                     open('/proc/loadavg').read().split()[0], wine, took), '',
                 '| section | measure | Halvory | minimal | Halvory / minimal | note |', '|---|---|---|---|---|---|']
        lines += ['| %s |' % ' | '.join(str(c).replace('|', '/') for c in row) for row in self.rows]
        lines += [''] + ['- ' + n for n in self.notes] + ['', 'Plot: gaps.png. Reproduce with `make bench`.', '']
        with open(os.path.join(self.out, 'report.md'), 'w') as f:
            f.write('\n'.join(lines))

    def run(self):
        began = time.monotonic()
        load_start = open('/proc/loadavg').read().split()[0]
        sections = [s for s in self.args.only.split(',') if s] or ['size', 'timing', 'idle', 'startup', 'soak', 'long']
        sections = [s for s in sections if not (s == 'soak' and self.args.soak_minutes <= 0 or
                                                s == 'long' and self.args.long_minutes <= 0)]
        try:
            self.build_baselines()
            self.up()
        except Exception as e:
            self.notes.append('setup failed: %s' % e)
            traceback.print_exc()
            sections = [s for s in sections if s == 'size']
        try:
            for name in sections:
                t = time.monotonic()
                try:
                    getattr(self, name)()
                except Exception as e:
                    traceback.print_exc()
                    self.row(name, 'failed', type(e).__name__, str(e)[:120])
                finally:
                    if hasattr(self, 'rig'):
                        self.rig.close_leftovers(fail=False)
                self.notes.append('%s took %.0f s' % (name, time.monotonic() - t))
        finally:
            if hasattr(self, 'rigs') or os.path.exists(os.path.join(self.rig_dir, 'env.sh')):
                self.down()
        self.plot()
        self.write_report(load_start, time.monotonic() - began)
        print('report: %s' % os.path.join(self.out, 'report.md'))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default='build')
    parser.add_argument('--plays', type=int, default=60, help='timed plays per program and architecture')
    parser.add_argument('--round-plays', type=int, default=10,
                        help='timed plays per round (each process plays one more first)')
    parser.add_argument('--idle-seconds', type=int, default=60)
    parser.add_argument('--startup-runs', type=int, default=5)
    parser.add_argument('--soak-minutes', type=float, default=10, help='0: no soak')
    parser.add_argument('--long-minutes', type=float, default=10, help='0: no long run')
    parser.add_argument('--arches', default='i686,x86_64', help='the exes timing, soak and long run measure')
    parser.add_argument('--only', default='', help='comma-separated sections: size,timing,idle,startup,soak,long')
    try:
        Bench(parser.parse_args()).run()
    except Exception:
        traceback.print_exc()
    return 0


if __name__ == '__main__':
    sys.exit(main())
