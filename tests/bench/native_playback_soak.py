"""Benchmark of native playback in the real binary under Xvfb (not part of the test
suite; run by hand). It measures the libmpv player of BRINDLEMAR_BUILD_DIR and, when
given, an older build with the GStreamer player side by side, and ends with one table:
figure, value, anchor, goal, met.

  cmake --build build --target bench       # the GStreamer tracer, for the old player
  BRINDLEMAR_BUILD_DIR=build tests/e2e/run-isolated.sh /usr/bin/python3 \\
      tests/bench/native_playback_soak.py [OLD_BUILD_DIR]

OLD_BUILD_DIR (or BRINDLEMAR_OLD_BUILD_DIR) is a build of the last commit with the
GStreamer player, e.g.
  git worktree add /tmp/old-player ffc318a
  cmake -S /tmp/old-player -B /tmp/old-player/build -G Ninja -DBRINDLEMAR_TESTS=OFF
  ninja -C /tmp/old-player/build brindlemar brindlemar-page-bridge
Without it, the rows that compare with the old player say "n/a".

Needs ffmpeg, and mpv (Debian's `mpv`, for the decoding floor only). The clips are
made once and kept in BENCH_CLIP_DIR (default /tmp/brindlemar-bench-clips): the
fixture's 320x180 VP8 clip.webm and a 20 s 1920x1080 30 fps H.264 (8 Mb/s, with
grain) + AAC clip1080.mp4. Both builds are copied before the first run, so a rebuild
meanwhile does not mix into the figures. Each app's output is kept in
/tmp/brindlemar-bench-<time>/.

1. First picture after "play": from the page posting "play" (the page's Date.now())
   to the first picture ready to be shown. The libmpv player says when with
   G_MESSAGES_DEBUG=brindlemar ("first picture at <N> us (monotonic)", mapped to the
   wall clock here); the GStreamer player is timed by the tracer module in
   <build>/bench/gst-plugins (the first buffer pushed into its gtksink). Beside them,
   the page's own <video> element in the same web view (first frame by
   requestVideoFrameCallback, or its "playing" event where that never fires, as
   without compositing). The median of FIRST_PICTURE_SAMPLES (5) for each clip; also
   the libmpv player's OpenGL path (BRINDLEMAR_VIDEO_OUTPUT=opengl), for information.
2. CPU per second of 1080p playback: the shell's utime+stime (/proc/PID/stat, its
   threads, not its children: the web and service processes are separate) over
   CPU_SECONDS (12) of playback, from 2 s after the first "time" event; software path
   (what the rendering policy picks on this machine, which has no GPU), OpenGL path,
   the old player, and `mpv --no-config --vo=null --ao=null` on the same file, timed
   the same way: the cost of decoding alone, the floor.
3. PSS during that playback: /proc/PID/smaps_rollup of the shell alone, and of the
   shell and its WebKit processes together (median of three readings).
4. Soak: SOAK_CYCLES (50) play/stop cycles of SOAK_CLIP (1080p, or "small") after
   three to warm up; the shell's resident memory (VmRSS, RssAnon), open file
   descriptors and threads before and after (5 s after the last stop, for the
   releases on their worker threads to end). Once with the shell's malloc arena cap
   (two arenas) and once with MALLOC_ARENA_MAX=16, nearly no cap.

Each app of the libmpv player (software path, OpenGL path, MALLOC_ARENA_MAX=16) and
the old player's goes the same way: one play of each clip to warm up (the first
picture of the first, the app's first play, is shown apart), 2 and 3, then 1, then 4
(not for the OpenGL path). The load average at the start and the end of each part
is printed with the table: the figures are only worth comparing on a quiet machine.
Under load the old player drops pictures and its CPU figure falls with them; on a
shared machine BENCH_QUIET_LOAD=1.5 makes each part first wait for a quieter moment.

The goals: the libmpv player's first picture, CPU and PSS no worse than the old
player's, and its first picture no later than the <video> element's; the software
path's CPU at most twice the decoding floor (converting and drawing a picture should
not cost more than decoding it); under 1 MiB of resident memory gained over the soak,
and as many file descriptors and threads after it as before.

Exits 1 when a run failed or the shell printed a critical, a warning or a sanitizer
report (each app's output is kept to show it); a goal not met is only reported.
"""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))

import test_native_player  # noqa: E402
from desktop import FIXTURE_SERVICE, NODE, App, Desktop, children_of, wait_for  # noqa: E402
from test_native_player import make_pages  # noqa: E402

CYCLES = int(os.environ.get('SOAK_CYCLES', '50'))
SAMPLES = int(os.environ.get('FIRST_PICTURE_SAMPLES', '5'))
CPU_SECONDS = float(os.environ.get('CPU_SECONDS', '12'))
# With BENCH_QUIET_LOAD set, each part first waits (BENCH_QUIET_WAIT s at most, 900 by
# default) for the 1-minute load average to fall below it.
QUIET_LOAD = float(os.environ.get('BENCH_QUIET_LOAD', '0'))
QUIET_WAIT = float(os.environ.get('BENCH_QUIET_WAIT', '900'))
CLIP_DIR = os.environ.get('BENCH_CLIP_DIR', '/tmp/brindlemar-bench-clips')
SERVICE = 'http://127.0.0.1:47874'
# name in the pages -> what it is
SMALL, LARGE = 'clip.webm', 'clip1080.mp4'
CLIPS = {SMALL: '320x180 VP8', LARGE: '1080p H.264'}
SOAK_CLIP = SMALL if os.environ.get('SOAK_CLIP') == 'small' else LARGE
RSS_GOAL_KIB = 1024

NEW_PICTURE = re.compile(r'first picture at (\d+) us \(monotonic\)')
OLD_PICTURE = re.compile(r'^first-frame (\d+)$', re.M)
TICK = os.sysconf('SC_CLK_TCK')


def load():
    return '{:.2f} {:.2f} {:.2f}'.format(*os.getloadavg())


def say(text):
    print(text, flush=True)


# ---- the clips ----

def large_clip():
    os.makedirs(CLIP_DIR, exist_ok=True)
    path = os.path.join(CLIP_DIR, LARGE)
    if not os.path.exists(path):
        say(f'making {path} (once; a minute or two)')
        partial = path + '.part.mp4'
        subprocess.run(['ffmpeg', '-y', '-loglevel', 'error',
                        '-f', 'lavfi', '-i', 'testsrc2=size=1920x1080:rate=30,noise=alls=12:allf=t+u',
                        '-f', 'lavfi', '-i', 'sine=frequency=440:sample_rate=48000', '-t', '20',
                        '-c:v', 'libx264', '-preset', 'veryfast', '-profile:v', 'high', '-pix_fmt', 'yuv420p',
                        '-b:v', '8M', '-maxrate', '10M', '-bufsize', '16M', '-g', '60',
                        '-c:a', 'aac', '-b:a', '128k', '-ac', '2', '-movflags', '+faststart', partial],
                       check=True)
        os.rename(partial, path)
    return path


def pages_for(desktop):
    pages = make_pages(desktop.root)
    try:
        os.link(large_clip(), os.path.join(pages, LARGE))
    except OSError:
        shutil.copy(large_clip(), os.path.join(pages, LARGE))
    return pages


# ---- process figures ----

def cpu_seconds(pid):
    with open(f'/proc/{pid}/stat') as f:
        stat = f.read()
    fields = stat[stat.rindex(')') + 2:].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime + stime, this process's threads only


def pss_kib(pid):
    with open(f'/proc/{pid}/smaps_rollup') as f:
        return int(re.search(r'^Pss:\s+(\d+) kB', f.read(), re.M).group(1))


def status_figures(pid):
    with open(f'/proc/{pid}/status') as f:
        status = f.read()
    field = lambda name: int(re.search(rf'^{name}:\s+(\d+)', status, re.M).group(1))
    return {'fds': len(os.listdir(f'/proc/{pid}/fd')), 'threads': field('Threads'),
            'rss': field('VmRSS'), 'anon': field('RssAnon')}


def thread_names(pid):
    names = []
    for task in os.listdir(f'/proc/{pid}/task'):
        try:
            with open(f'/proc/{pid}/task/{task}/comm') as f:
                names.append(f.read().strip())
        except OSError:
            pass
    return names


def web_processes(pid):
    return [child for child, comm in children_of(pid).items() if comm.startswith('WebKit')]


# ---- one app in a desktop of its own ----

class Tree:
    """bin/ and lib/ of a build beside the fixture service, as the e2e AppTree, but
    from any build."""

    def __init__(self, desktop, build):
        self.root = os.path.join(desktop.root, 'tree')
        for part in ('bin', 'lib'):
            shutil.copytree(os.path.join(build, part), os.path.join(self.root, part))
        share = os.path.join(self.root, 'share', 'brindlemar')
        shutil.copytree(FIXTURE_SERVICE, os.path.join(share, 'backend'))
        os.symlink(NODE, os.path.join(share, 'node'))
        self.binary = os.path.join(self.root, 'bin', 'brindlemar')


class Session:
    def __init__(self, bench, label, build, env, old=False):
        self.bench, self.label, self.old = bench, label, old
        say(f'\n== {label} (load average {load()})')
        self.desktop = Desktop()
        try:
            self.app = App(self.desktop, Tree(self.desktop, build), pages=pages_for(self.desktop), extra_env=env)
            self.app.page_reports = self.page_reports
            self.app.main_window()
            self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')
        except Exception:
            self.desktop.close()
            raise
        self.pid = self.app.proc.pid

    def close(self):
        try:
            self.app.stop()
        except AssertionError as e:
            self.bench.fault(self.label, str(e).split('\n---- its output ----')[0])
        finally:
            kept = os.path.join(self.bench.results, self.label.replace(' ', '-') + '.log')
            shutil.copy(self.app.log_path, kept)
            say(f'   its output: {kept}')
            self.desktop.close()

    # -- the page --
    def page_reports(self):
        """The page's reports, as App.page_reports, but from whole lines only: the
        service may be half-way through appending one when it is read."""
        path = os.path.join(self.app.reports, 'reports.jsonl')
        if not os.path.exists(path):
            return []
        with open(path) as f:
            text = f.read()
        return [json.loads(line) for line in text[:text.rfind('\n') + 1].splitlines() if line.strip()]

    def events(self):
        return [r['detail'] for r in self.app.page_reports() if r.get('event') == 'native-player']

    def times(self):
        return [e for e in self.events() if e['type'] == 'time']

    def play(self, clip):
        """Posts "play" from the page; the page's Date.now() (ms) when it did."""
        return self.app.run_in_page(f"(() => {{ const t = Date.now(); post('brindlemarPlayer', "
                                    f"{{action: 'play', url: '{SERVICE}/{clip}', title: 'Clip'}}); return t; }})()")

    def stop(self):
        self.app.run_in_page("post('brindlemarPlayer', {action: 'stop'})")
        wait_for(lambda: self.desktop.window_title(self.app.main_window()) == 'Brindlemar', what='the stop')

    def cycle(self, clip):
        count = len(self.times())
        self.play(clip)
        wait_for(lambda: len(self.times()) > count, timeout=30, what='playback')
        self.stop()

    # -- 1: first picture --
    def first_picture_ms(self, clip):
        pattern = OLD_PICTURE if self.old else NEW_PICTURE
        seen = len(pattern.findall(self.app.printed()))
        sent = self.play(clip)

        def picture():
            found = pattern.findall(self.app.printed())
            return int(found[seen]) if len(found) > seen else None
        at = wait_for(picture, timeout=30, what='the first picture')
        if self.old:
            value = at - sent  # the tracer's wall-clock milliseconds
        else:
            realtime_minus_monotonic = time.time_ns() // 1000 - time.monotonic_ns() // 1000
            value = (at + realtime_minus_monotonic) / 1000 - sent
        self.stop()
        time.sleep(0.5)
        return value

    def element_first_picture_ms(self, clip):
        """The page's own <video>: its first painted frame, by requestVideoFrameCallback;
        where that never fires (no accelerated compositing), its "playing" event."""
        value = self.app.run_in_page(
            "new Promise(resolve => { const t = Date.now(); const v = document.createElement('video');"
            f" v.muted = true; v.src = '/{clip}?' + t; document.body.appendChild(v); let playing = 0;"
            " const done = how => { if (!v.isConnected) return; resolve([(how === 'frame' ? Date.now() : playing) - t, how]);"
            " v.pause(); v.removeAttribute('src'); v.load(); v.remove(); };"
            " if (v.requestVideoFrameCallback) v.requestVideoFrameCallback(() => done('frame'));"
            " v.addEventListener('playing', () => { playing = Date.now(); setTimeout(() => done('playing'), 3000); },"
            " {once: true}); v.play(); })", timeout=40)
        time.sleep(0.5)
        return value

    # -- 2 and 3: CPU and PSS while playing --
    def playback_figures(self, clip):
        count = len(self.times())
        self.play(clip)
        wait_for(lambda: len(self.times()) > count, timeout=30, what='playback')
        time.sleep(2)

        def next_position():
            # Read as a "time" event comes, so that the position and the clock agree.
            seen = len(self.times())
            wait_for(lambda: len(self.times()) > seen, timeout=10, interval=0.02, what='progress')
            return self.times()[-1]['position']
        p0 = next_position()
        t0, c0 = time.monotonic(), cpu_seconds(self.pid)
        webs = web_processes(self.pid)
        w0 = sum(cpu_seconds(p) for p in webs)
        shell, together = [], []
        for _ in range(3):
            time.sleep(CPU_SECONDS / 4)
            shell.append(pss_kib(self.pid))
            together.append(shell[-1] + sum(pss_kib(p) for p in webs))
        time.sleep(max(0.0, t0 + CPU_SECONDS - time.monotonic()))
        p1 = next_position()
        c1, t1 = cpu_seconds(self.pid), time.monotonic()
        w1 = sum(cpu_seconds(p) for p in webs)
        llvmpipe = sum(1 for n in thread_names(self.pid) if n.startswith('llvmpipe'))
        self.stop()
        figures = {'cpu': (c1 - c0) / (t1 - t0) * 1000, 'web_cpu': (w1 - w0) / (t1 - t0) * 1000,
                   'speed': (p1 - p0) / (t1 - t0), 'pss': statistics.median(shell),
                   'pss_all': statistics.median(together), 'web': len(webs), 'llvmpipe': llvmpipe}
        say(f'   playing {clip}: shell CPU {figures["cpu"]:.0f} ms/s (its web processes '
            f'{figures["web_cpu"]:.0f} ms/s), position moved x{figures["speed"]:.2f} of the clock, '
            f'PSS shell {shell} KiB, with {len(webs)} WebKit processes {together} KiB, '
            f'{llvmpipe} llvmpipe threads in the shell')
        return figures

    # -- 4: soak --
    def soak(self, clip, cycles):
        for _ in range(3):
            self.cycle(clip)
        time.sleep(2)
        before = status_figures(self.pid)
        started = time.monotonic()
        for _ in range(cycles):
            self.cycle(clip)
        elapsed = time.monotonic() - started
        time.sleep(5)
        after = status_figures(self.pid)
        say(f'   soak: {cycles} play/stop cycles of {clip} in {elapsed:.0f} s; before -> after: '
            + ', '.join(f'{k} {before[k]} -> {after[k]}' for k in before) + ' (memory in KiB)')
        return before, after


# ---- the run ----

class Bench:
    def __init__(self, new_build, old_build):
        self.results = tempfile.mkdtemp(prefix='brindlemar-bench-' + time.strftime('%Y%m%d-%H%M%S-'), dir='/tmp')
        self.scratch = tempfile.mkdtemp(prefix='builds-', dir=self.results)
        self.faults = []
        self.figures = {}
        self.loads = []
        self.new = self.copy_build(new_build, 'new')
        self.old = self.copy_build(old_build, 'old') if old_build else None
        self.tracers = None
        if old_build:
            for build in (old_build, new_build):
                plugins = os.path.join(build, 'bench', 'gst-plugins')
                if os.path.exists(os.path.join(plugins, 'libgstbenchtracers.so')):
                    self.tracers = plugins
                    break
            else:
                sys.exit('no GStreamer tracer module in <build>/bench/gst-plugins of either build: '
                         'cmake --build <build> --target gstbenchtracers')

    def copy_build(self, build, name):
        build = os.path.abspath(build)
        if not os.path.exists(os.path.join(build, 'bin', 'brindlemar')):
            sys.exit(f'no bin/brindlemar in {build}')
        dest = os.path.join(self.scratch, name)
        for part in ('bin', 'lib'):
            shutil.copytree(os.path.join(build, part), os.path.join(dest, part))
        return dest

    def fault(self, label, text):
        self.faults.append((label, text))
        say(f'   FAULT in {label}: {text.splitlines()[0] if text else ""}')

    def section(self, label, run):
        if QUIET_LOAD:
            # On a shared machine: each part waits a while for the others' work to calm.
            deadline = time.monotonic() + QUIET_WAIT
            while os.getloadavg()[0] >= QUIET_LOAD and time.monotonic() < deadline:
                time.sleep(10)
        start = load()
        try:
            run()
        except Exception:
            self.fault(label, traceback.format_exc())
        self.loads.append((label, f'{start} -> {load()}'))

    def session(self, label, build, env, body, old=False):
        def run():
            s = Session(self, label, build, env, old=old)
            try:
                body(s)
            finally:
                s.close()
        self.section(label, run)

    # -- what each app does --
    def warm_up(self, s, key):
        # One play of each clip first, so that no player's figures carry the libraries
        # loaded and the caches filled by the first play of the app. That first play's
        # picture is kept apart: it is what the user waits for the first time.
        self.figures[(key, 'cold')] = s.first_picture_ms(SMALL)
        say(f'   first picture of the first play of the app, {SMALL} (ms): {self.figures[(key, "cold")]:.0f}')
        s.cycle(LARGE)

    def first_pictures(self, s, key, with_element):
        for clip in CLIPS:
            native, element = [], []
            for _ in range(SAMPLES):
                native.append(s.first_picture_ms(clip))
                if with_element:
                    element.append(s.element_first_picture_ms(clip))
            self.figures[(key, 'first', clip)] = statistics.median(native)
            say(f'   first picture of {clip} (ms): {[round(v) for v in native]}')
            if with_element:
                self.figures[('element', 'first', clip)] = statistics.median(e[0] for e in element)
                self.figures[('element', 'how', clip)] = '/'.join(sorted({e[1] for e in element}))
                say(f'   <video> first picture of {clip} (ms): {element}')

    def playback(self, s, key):
        self.figures[(key, 'play')] = s.playback_figures(LARGE)

    def soak(self, s, key):
        self.figures[(key, 'soak')] = s.soak(SOAK_CLIP, CYCLES)

    def floor(self):
        clip = large_clip()
        say(f'\n== mpv --no-config --vo=null --ao=null (load average {load()})')
        proc = subprocess.Popen(['mpv', '--no-config', '--vo=null', '--ao=null', '--really-quiet', clip],
                                stdin=subprocess.DEVNULL)
        try:
            time.sleep(3)
            c0, t0 = cpu_seconds(proc.pid), time.monotonic()
            time.sleep(CPU_SECONDS)
            c1, t1 = cpu_seconds(proc.pid), time.monotonic()
        finally:
            proc.wait(timeout=60)
        self.figures[('floor', 'cpu')] = (c1 - c0) / (t1 - t0) * 1000
        say(f'   CPU {self.figures[("floor", "cpu")]:.0f} ms/s')

    def run(self):
        if not shutil.which('mpv'):
            sys.exit('mpv is not installed: apt-get install mpv (the decoding floor)')
        large_clip()
        debug = {'G_MESSAGES_DEBUG': 'brindlemar'}
        self.section('decoding floor', self.floor)
        # Every app goes the same way, so that the soaks start from the same history:
        # the memory while playing is read before the soak (and before the <video>
        # elements, which only the first app plays, can add to the web process).
        def steps(key, with_element=False, soak=True):
            return lambda s: (self.warm_up(s, key), self.playback(s, key), self.first_pictures(s, key, with_element),
                              soak and self.soak(s, key))
        # The two players one after the other, so that the load of the machine
        # changes as little as can be between them.
        self.session('mpv player', self.new, debug, steps('new', with_element=True))
        if self.old:
            self.session('GStreamer player', self.old, {'GST_PLUGIN_PATH': self.tracers, 'GST_TRACERS': 'firstframe'},
                         steps('old'), old=True)
        self.session('mpv player MALLOC_ARENA_MAX=16', self.new, {**debug, 'MALLOC_ARENA_MAX': '16'},
                     steps('arenas'))
        self.session('mpv player OpenGL', self.new, {**debug, 'BRINDLEMAR_VIDEO_OUTPUT': 'opengl'},
                     steps('gl', soak=False))
        self.table()
        shutil.rmtree(self.scratch, ignore_errors=True)
        if test_native_player._clip:
            shutil.rmtree(os.path.dirname(test_native_player._clip), ignore_errors=True)
        if self.faults:
            say('\nFAULTS:')
            for label, text in self.faults:
                say(f'-- {label}:\n{text}')
        say(f'\nkept: {self.results}')
        return 1 if self.faults else 0

    # -- the table --
    def table(self):
        f = self.figures.get
        rows = []

        def row(figure, value, anchor, goal, met):
            rows.append((figure, value, anchor, goal, met))

        def num(v, unit=''):
            return '—' if v is None else f'{v:.0f}{unit}'

        def compare(figure, value, anchor_name, anchor, goal='≤ anchor', test=lambda v, a: v <= a, unit='',
                    needs_anchor=True):
            if value is None or (needs_anchor and anchor is None):
                met = 'n/a'
            else:
                met = 'yes' if test(value, anchor) else 'NO'
            row(figure, num(value, unit), f'{anchor_name} {num(anchor, unit)}', goal, met)

        for clip, name in CLIPS.items():
            new = f(('new', 'first', clip))
            compare(f'first picture, {name}, mpv player (ms)', new, 'GStreamer player', f(('old', 'first', clip)))
            how = f(('element', 'how', clip)) or ''
            compare(f'first picture, {name}, mpv player (ms)', new, f'<video> ({how})', f(('element', 'first', clip)))
            row(f'first picture, {name}, mpv OpenGL path (ms)', num(f(('gl', 'first', clip))),
                f'software path {num(new)}', 'information', '—')
        row(f'first picture, first play of the app, {CLIPS[SMALL]} (ms)', num(f(('new', 'cold'))),
            f"GStreamer player {num(f(('old', 'cold')))}", 'information (one play)', '—')
        row(f'first picture, first play of the app, {CLIPS[SMALL]}, OpenGL (ms)', num(f(('gl', 'cold'))),
            f"software path {num(f(('new', 'cold')))}", 'information (one play)', '—')

        floor = f(('floor', 'cpu'))
        play = {k: f((k, 'play')) or {} for k in ('new', 'gl', 'old')}
        compare('CPU per s of 1080p playback, software path (ms)', play['new'].get('cpu'), 'mpv --vo=null',
                floor, goal='≤ 2 × anchor', test=lambda v, a: v <= 2 * a)
        compare('CPU per s of 1080p playback, software path (ms)', play['new'].get('cpu'), 'GStreamer player',
                play['old'].get('cpu'))
        row('CPU per s of 1080p playback, OpenGL path, llvmpipe (ms)', num(play['gl'].get('cpu')),
            f'mpv --vo=null {num(floor)}', 'information', '—')
        play['arenas'] = f(('arenas', 'play')) or {}
        row('CPU per s of 1080p playback, software, MALLOC_ARENA_MAX=16 (ms)', num(play['arenas'].get('cpu')),
            f"arena cap 2 {num(play['new'].get('cpu'))}", 'information', '—')

        mib = lambda kib: None if kib is None else kib / 1024
        compare('ΣPSS of the shell, 1080p playing (MiB)', mib(play['new'].get('pss')), 'GStreamer player',
                mib(play['old'].get('pss')))
        compare('ΣPSS of shell + WebKit processes, 1080p playing (MiB)', mib(play['new'].get('pss_all')),
                'GStreamer player', mib(play['old'].get('pss_all')))
        row('ΣPSS of the shell, 1080p playing, MALLOC_ARENA_MAX=16 (MiB)', num(mib(play['arenas'].get('pss'))),
            f"arena cap 2 {num(mib(play['new'].get('pss')))}", 'information', '—')

        def growth(key, field='rss'):
            soak = f((key, 'soak'))
            return None if soak is None else soak[1][field] - soak[0][field]

        def flat(key, field):
            soak = f((key, 'soak'))
            return None if soak is None else (soak[0][field], soak[1][field])

        under = lambda v, a: v < RSS_GOAL_KIB
        label = f'{CYCLES} cycles of {CLIPS[SOAK_CLIP]}'
        compare(f'RSS growth, {label}, arena cap 2 (KiB)', growth('new'), 'GStreamer player', growth('old'),
                goal='< 1024', test=under, needs_anchor=False)
        compare(f'RSS growth, {label}, MALLOC_ARENA_MAX=16 (KiB)', growth('arenas'), 'arena cap 2',
                growth('new'), goal='< 1024', test=under, needs_anchor=False)
        row(f'RssAnon growth, {label}, arena cap 2 (KiB)', num(growth('new', 'anon')),
            f"MALLOC_ARENA_MAX=16 {num(growth('arenas', 'anon'))}", 'information', '—')
        for field in ('fds', 'threads'):
            for key, name in (('new', 'arena cap 2'), ('arenas', 'MALLOC_ARENA_MAX=16')):
                pair = flat(key, field)
                old = flat('old', field)
                row(f'{field} before -> after, {label}, {name}',
                    '—' if pair is None else f'{pair[0]} -> {pair[1]}',
                    'GStreamer player ' + ('—' if old is None else f'{old[0]} -> {old[1]}'),
                    'equal', '—' if pair is None else ('yes' if pair[0] == pair[1] else 'NO'))

        widths = [max(len(str(r[i])) for r in rows + [('figure', 'value', 'anchor', 'goal', 'met')]) for i in range(5)]
        say('\nload average (1, 5, 15 min) at the start and the end of each part: '
            + '; '.join(f'{label}: {value}' for label, value in self.loads))
        say(f'first pictures: median of {SAMPLES}; CPU over {CPU_SECONDS:.0f} s of playback')
        for r in [('figure', 'value', 'anchor', 'goal', 'met')] + rows:
            say('  '.join(str(c).ljust(w) for c, w in zip(r, widths)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('old_build', nargs='?', default=os.environ.get('BRINDLEMAR_OLD_BUILD_DIR'),
                        help='a build of the last commit with the GStreamer player')
    args = parser.parse_args()
    # Stopped from outside, the apps and their desktops still go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    new_build = os.environ.get('BRINDLEMAR_BUILD_DIR') or os.path.join(HERE, '..', '..', 'build')
    sys.exit(Bench(new_build, args.old_build).run())


if __name__ == '__main__':
    main()
