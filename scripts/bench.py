#!/usr/bin/env python3
"""Halvory's benchmark: measures and reports, never fails.

    scripts/bench.py [--build build] [--idle-seconds 60] [--soak-minutes 3]

Runs the real x86_64 halvory.exe under Wine in a rig of its own
(BUILD/bench-rig, brought down at the end) and writes BUILD/bench/report.md
with a Markdown table and BUILD/bench/gaps.png, a plot of the chime gap errors.

  timing    30 chimes at a 1 s interval with a 0.15 s WAV, heard on the rig's
            sound sink: the error of every gap between onsets against 1 s,
            the cumulative drift, and two delays to each audio onset taken
            from Wine's media trace (+timestamp,+mci): from the tick (the
            MCI_STOP that a timer message starts with) and from the MCI_PLAY.
  idle      CPU time (utime+stime of the Linux process) over a window with a
            1 hour interval, against a minimal message-loop program.
  start-up  launch to tray icon on screen (screenshots polled), against a
            minimal tray program; median of several runs.
  size      both exes and the DLLs each imports.
  soak      interval 0: restarts per second, memory and open files at start
            and end, and whether it is still alive and exits with code 0.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import harness  # noqa: E402
import mcitrace  # noqa: E402

HOUR_MS = 3600000


# -- a Wine process seen from Linux --------------------------------------------
def cpu_seconds(pid):
    """CPU time of a Linux process and all its threads, in seconds.

    The scheduler's own count (nanoseconds) rather than utime+stime, whose
    10 ms ticks are coarser than an idle minute of either program."""
    total = 0
    task_dir = '/proc/%d/task' % pid
    for tid in os.listdir(task_dir):
        try:
            with open(os.path.join(task_dir, tid, 'schedstat')) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass    # a thread that ended meanwhile
    return total / 1e9


def rss_kb(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def fd_count(pid):
    return len(os.listdir('/proc/%d/fd' % pid))


def tick_and_play_times(calls):
    """[(tick, play)] trace times of every play: the tick is the first
    MCI_STOP since the play before (a timer message starts with a stop), or
    None when there was none."""
    result = []
    last_stop = None
    for c in calls:
        if c.command == 'MCI_STOP':
            if last_stop is None:
                last_stop = c.time
        elif c.command == 'MCI_PLAY':
            result.append((last_stop, c.time))
            last_stop = None
    return result


def pct(values, q):
    s = sorted(values)
    if not s:
        return float('nan')
    i = min(len(s) - 1, max(0, int(round(q / 100.0 * (len(s) - 1)))))
    return s[i]


def ms(x):
    return '%.1f ms' % (x * 1000)


def us(x):
    return '%.0f µs' % (x * 1e6)


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.out = os.path.join(self.build, 'bench')
        self.rig_dir = os.path.join(self.build, 'bench-rig')
        self.rows = []          # (section, measure, value, note)
        self.notes = []
        os.makedirs(self.out, exist_ok=True)

    def row(self, section, measure, value, note=''):
        self.rows.append((section, measure, value, note))
        print('%-9s %-44s %s %s' % (section, measure, value, note), flush=True)

    # -- setting up ----------------------------------------------------------
    def build_baselines(self):
        self.idle_exe = os.path.join(self.out, 'idle.exe')
        self.tray_exe = os.path.join(self.out, 'tray.exe')
        for src, exe in (('idle.c', self.idle_exe), ('tray.c', self.tray_exe)):
            subprocess.check_call(['x86_64-w64-mingw32-gcc', '-O2', '-mwindows',
                                   os.path.join(ROOT, 'bench', src), '-o', exe, '-lshell32'])

    def up(self):
        subprocess.check_call([os.path.join(ROOT, 'scripts', 'rig.sh'), 'up', self.rig_dir])
        self.rig = harness.Rig(os.path.join(self.build, 'x86_64'), self.rig_dir)

    def down(self):
        try:
            self.rig.kill_all()
        except Exception:
            pass
        subprocess.call([os.path.join(ROOT, 'scripts', 'rig.sh'), 'down', self.rig_dir])

    def exit_halvory(self, hwnd, p):
        self.rig.command(hwnd, harness.IDM_EXIT)
        try:
            return p.wait(30)
        except subprocess.TimeoutExpired:
            p.kill()
            return 'hung'

    # -- sections ------------------------------------------------------------
    def timing(self):
        r = self.rig
        n = 30
        wav = harness.make_tone(os.path.join(r.tmp, 'tick.wav'), 1000, 0.15)
        rec = harness.Recorder(r).start()
        offset = mcitrace.raw_minus_monotonic()
        p, hwnd = harness.start_clean(r, 1000, harness.windows_path(wav), traced=True)
        harness.wait_for(lambda: mcitrace.count(p.log, 'MCI_PLAY') >= n + 2, n + 30, 0.5)
        time.sleep(0.5)
        rec.stop()
        code = self.exit_halvory(hwnd, p)
        # Trace stamps (CLOCK_MONOTONIC_RAW) onto the recording's clock.
        ticks, plays = [], []
        for tick, play in tick_and_play_times(mcitrace.parse(p.log)):
            plays.append(rec.at(play - offset))
            ticks.append(rec.at(tick - offset) if tick is not None else None)
        all_onsets = [s[0] for s in rec.sounds() if 900 < s[2] < 1100]

        # Each play with the onset it caused, if one was heard. The first chime
        # of a process is slower to start (devices open cold): left out.
        heard = []          # (index of the play, onset)
        from_play, from_tick = [], []
        for i, (tick, play) in enumerate(list(zip(ticks, plays))[1:n + 2], start=1):
            after = [o for o in all_onsets if play - 0.05 <= o <= play + 0.6]
            if not after:
                continue
            heard.append((i, after[0]))
            from_play.append(after[0] - play)
            if tick is not None:
                from_tick.append(after[0] - tick)
        played = len(plays[1:n + 2])
        self.row('timing', 'plays heard', '%d of %d' % (len(heard), played),
                 'a play the trace shows but the recording lacks is the audio path\'s, not the timer\'s')
        # Gaps only between chimes of consecutive ticks, so a chime lost on
        # the way to the sink does not count as a late tick.
        gaps = [b - a for (i, a), (j, b) in zip(heard, heard[1:]) if j == i + 1]
        errors = [g - 1.0 for g in gaps]
        abs_err = [abs(e) for e in errors]
        self.gap_errors = errors
        self.row('timing', 'gaps measured (1 s interval)', str(len(gaps)))
        self.row('timing', 'gap error |median| / p95 / max',
                 '%s / %s / %s' % (ms(statistics.median(abs_err)), ms(pct(abs_err, 95)),
                                   ms(max(abs_err))))
        (i0, first), (i1, last) = heard[0], heard[-1]
        drift = (last - first) - (i1 - i0) * 1.0
        self.row('timing', 'cumulative drift over %d intervals' % (i1 - i0), ms(drift))
        self.delays = from_tick
        for label, d in (('tick (MCI_STOP) to onset', from_tick), ('MCI_PLAY to onset', from_play)):
            if d:
                self.row('timing', label + ' median / p95 / max',
                         '%s / %s / %s' % (ms(statistics.median(d)), ms(pct(d, 95)), ms(max(d))),
                         '%d chimes' % len(d))
        self.row('timing', 'exit code', str(code))

    def cpu_over(self, p, seconds):
        time.sleep(3)       # past the start-up work
        wineserver = int(open(os.path.join(self.rig_dir, 'wineserver.pid')).read())
        c0, w0 = cpu_seconds(p.pid), cpu_seconds(wineserver)
        time.sleep(seconds)
        c1, w1 = cpu_seconds(p.pid), cpu_seconds(wineserver)
        return c1 - c0, w1 - w0

    def idle(self):
        r = self.rig
        secs = self.args.idle_seconds
        p, hwnd = harness.start_clean(r, HOUR_MS, harness.windows_path(os.path.join(r.tmp, 'none.wav')))
        hv, hv_ws = self.cpu_over(p, secs)
        self.exit_halvory(hwnd, p)
        b = r.wine_spawn(self.idle_exe)
        r.driver('wait', 'BenchIdle', 'BenchIdle', 20000)
        base, base_ws = self.cpu_over(b, secs)
        r.post(int(r.driver('find', 'BenchIdle', 'BenchIdle').split()[-1], 16), harness.WM_CLOSE)
        b.wait(20)
        self.row('idle', 'Halvory CPU over %d s (1 h interval)' % secs, us(hv),
                 'wineserver meanwhile %s' % ms(hv_ws))
        self.row('idle', 'minimal message loop CPU over %d s' % secs, us(base),
                 'wineserver meanwhile %s' % ms(base_ws))
        self.row('idle', 'ratio Halvory / minimal',
                 '%.2f' % (hv / base) if base > 0 else
                 ('both 0: neither ran while idle' if hv == 0 else 'n/a (baseline 0)'),
                 'scheduler CPU time of all threads; wineserver meanwhile %.2f : 1'
                 % (hv_ws / base_ws if base_ws > 0 else float('nan')))

    def icon_cell(self):
        """The raw RGB bytes of the first tray icon's 16x16 cell, on screen now."""
        shot = self.rig.screenshot()
        cx, cy = harness.TRAY_ICON_CENTRE
        cell = subprocess.check_output(['convert', shot, '-crop', '16x16+%d+%d' % (cx - 8, cy - 8),
                                        '+repage', '-depth', '8', 'rgb:-'])
        os.remove(shot)
        return cell

    def icon_shown(self, empty):
        now = self.icon_cell()
        diff = sum(1 for i in range(0, len(now), 3)
                   if max(abs(now[i + k] - empty[i + k]) for k in range(3)) > 40)
        return diff >= 40

    def launch_to_icon(self, argv, close):
        r = self.rig
        empty = self.icon_cell()
        t0 = time.monotonic()
        p = r.spawn([r.wine] + argv)
        seen = None
        while time.monotonic() - t0 < 30:
            t = time.monotonic()
            if self.icon_shown(empty):
                seen = t - t0
                break
        close(p)
        time.sleep(1)
        return seen

    def startup(self):
        r = self.rig
        runs = self.args.startup_runs
        r.reg_clear()
        r.reg_set_wait(HOUR_MS)
        r.reg_set_sound(harness.windows_path(os.path.join(r.tmp, 'none.wav')))

        def close_halvory(p):
            hwnd = r.main_window()
            if hwnd:
                self.exit_halvory(hwnd, p)

        def close_tray(p):
            out = r.driver('find', 'BenchTray', 'BenchTray', check=False)
            if out and int(out.split()[-1], 16):
                r.post(int(out.split()[-1], 16), harness.WM_CLOSE)
            p.wait(30)
        hv, base = [], []
        for i in range(runs):
            # Alternating which goes first, so neither always follows the other.
            if i % 2:
                base.append(self.launch_to_icon([self.tray_exe], close_tray))
                hv.append(self.launch_to_icon([r.exe], close_halvory))
            else:
                hv.append(self.launch_to_icon([r.exe], close_halvory))
                base.append(self.launch_to_icon([self.tray_exe], close_tray))
        hv = [x for x in hv if x is not None]
        base = [x for x in base if x is not None]
        self.row('start-up', 'Halvory launch to icon, median of %d' % len(hv),
                 ms(statistics.median(hv)) if hv else 'not seen',
                 'min %s max %s' % (ms(min(hv)), ms(max(hv))) if hv else '')
        self.row('start-up', 'minimal tray program, median of %d' % len(base),
                 ms(statistics.median(base)) if base else 'not seen',
                 'min %s max %s' % (ms(min(base)), ms(max(base))) if base else '')
        if hv and base:
            self.row('start-up', 'ratio Halvory / minimal',
                     '%.2f' % (statistics.median(hv) / statistics.median(base)))

    def size(self):
        for arch, triple in (('i686', 'i686-w64-mingw32'), ('x86_64', 'x86_64-w64-mingw32')):
            exe = os.path.join(self.build, arch, 'halvory.exe')
            stripped = os.path.join(self.out, 'stripped-%s.exe' % arch)
            subprocess.check_call([triple + '-strip', '-s', '-o', stripped, exe])
            dump = subprocess.check_output([triple + '-objdump', '-p', exe], text=True)
            dlls = [l.split(':', 1)[1].strip() for l in dump.splitlines() if 'DLL Name:' in l]
            self.row('size', '%s exe (stripped, as shipped)' % arch,
                     '%d bytes' % os.path.getsize(stripped),
                     'unstripped %d bytes' % os.path.getsize(exe))
            self.row('size', '%s imports' % arch, ', '.join(dlls), '%d DLLs' % len(dlls))

    def soak(self):
        r = self.rig
        secs = int(self.args.soak_minutes * 60)
        wav = harness.make_tone(os.path.join(r.tmp, 'soak.wav'), 800, 0.1)
        p, hwnd = harness.start_clean(r, 0, harness.windows_path(wav), traced=True)
        time.sleep(10)          # settled: devices opened, buffers allocated
        first = (rss_kb(p.pid), fd_count(p.pid), mcitrace.count(p.log, 'MCI_PLAY'), time.monotonic())
        peak_rss = first[0]
        while time.monotonic() - first[3] < secs - 10 and p.poll() is None:
            time.sleep(5)
            peak_rss = max(peak_rss, rss_kb(p.pid))
        alive = p.poll() is None
        last = (rss_kb(p.pid), fd_count(p.pid), mcitrace.count(p.log, 'MCI_PLAY'),
                time.monotonic()) if alive else None
        code = self.exit_halvory(hwnd, p) if alive else p.returncode
        self.row('soak', 'duration, interval 0', '%d s' % secs, 'media trace on')
        self.row('soak', 'alive at the end / exit code', '%s / %s' % (alive, code))
        if last:
            rate = (last[2] - first[2]) / (last[3] - first[3])
            self.row('soak', 'restarts per second (MCI_PLAY in trace)', '%.1f' % rate)
            self.row('soak', 'VmRSS at start / end / peak',
                     '%d / %d / %d kB' % (first[0], last[0], peak_rss))
            self.row('soak', 'open fds of the process at start / end', '%d / %d' % (first[1], last[1]))
        try:
            os.remove(p.log)        # large: every restart is traced
        except OSError:
            pass

    # -- report ----------------------------------------------------------------
    def plot(self):
        errors = getattr(self, 'gap_errors', None)
        if not errors:
            return
        data = os.path.join(self.out, 'gaps.dat')
        with open(data, 'w') as f:
            delays = getattr(self, 'delays', [])
            for i, e in enumerate(errors):
                d = delays[i] * 1000 if i < len(delays) else float('nan')
                f.write('%d %.3f %.3f\n' % (i + 1, e * 1000, d))
        png = os.path.join(self.out, 'gaps.png')
        script = '''
set terminal pngcairo size 800,400 noenhanced
set output '%s'
set title 'Halvory: chime gaps at a 1 s interval, heard on the sound sink (Wine 8)'
set xlabel 'gap number'
set ylabel 'milliseconds'
set grid
set key outside below
plot '%s' using 1:2 with linespoints title 'gap error (onset to onset - 1000 ms)', \\
     '' using 1:3 with linespoints title 'tick to audio onset'
''' % (png, data)
        try:
            subprocess.run(['gnuplot'], input=script, text=True, check=True)
        except Exception:
            subprocess.run(['gnuplot'], input=script.replace('pngcairo', 'png'), text=True)

    def write_report(self):
        lines = ['# Halvory benchmark', '',
                 'Measured %s on %s (%d cores, load %s), Wine 8, x86_64 build.' % (
                     time.strftime('%Y-%m-%d'), os.uname().nodename, os.cpu_count(),
                     open('/proc/loadavg').read().split()[0]), '',
                 '| section | measure | value | note |', '|---|---|---|---|']
        for row in self.rows:
            lines.append('| %s |' % ' | '.join(str(c).replace('|', '/') for c in row))
        lines += [''] + ['- ' + n for n in self.notes]
        lines += ['', 'Plot: gaps.png. Reproduce with `make bench`.', '']
        with open(os.path.join(self.out, 'report.md'), 'w') as f:
            f.write('\n'.join(lines))

    def run(self):
        sections = [s for s in self.args.only.split(',') if s] or \
            ['size', 'timing', 'idle', 'startup', 'soak']
        try:
            self.build_baselines()
            self.up()
        except Exception as e:
            self.notes.append('setup failed: %s' % e)
            traceback.print_exc()
            sections = [s for s in sections if s == 'size']
        try:
            for name in sections:
                try:
                    getattr(self, name)()
                except Exception as e:
                    traceback.print_exc()
                    self.row(name, 'failed', type(e).__name__, str(e)[:120])
                finally:
                    if hasattr(self, 'rig'):
                        self.rig.close_leftovers()
        finally:
            if hasattr(self, 'rig') or os.path.exists(os.path.join(self.rig_dir, 'env.sh')):
                self.down()
        self.plot()
        self.write_report()
        print('report: %s' % os.path.join(self.out, 'report.md'))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default='build')
    parser.add_argument('--idle-seconds', type=int, default=60)
    parser.add_argument('--soak-minutes', type=float, default=3)
    parser.add_argument('--startup-runs', type=int, default=5)
    parser.add_argument('--only', default='', help='comma-separated sections')
    args = parser.parse_args()
    try:
        Bench(args).run()
    except Exception:
        traceback.print_exc()
    return 0


if __name__ == '__main__':
    sys.exit(main())
