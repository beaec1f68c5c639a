"""Benchmark of native playback in the real binary under Xvfb (not part of the test
suite; run by hand):

  cmake --build build --target bench
  BRINDLEMAR_BUILD_DIR=build tests/e2e/run-isolated.sh /usr/bin/python3 tests/bench/native_playback_soak.py

1. Soak: 50 play/stop cycles; the shell's open file descriptors, threads and
   resident memory after a warm-up and after the cycles.
2. Start-up: the time from the page's "play" message to the first picture at the
   video sink (timed by the GStreamer tracer module built in <build>/bench/gst-plugins,
   loaded into the shell through GST_PLUGIN_PATH and GST_TRACERS), beside the same
   file played by a <video> element in the same web view (first frame by
   requestVideoFrameCallback). Medians of several runs.
"""

import os
import re
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))

from desktop import App, AppTree, Desktop, wait_for  # noqa: E402
from test_native_player import make_pages  # noqa: E402

CYCLES = int(os.environ.get('SOAK_CYCLES', '50'))
SAMPLES = int(os.environ.get('FIRST_FRAME_SAMPLES', '9'))
CLIP = 'http://127.0.0.1:47874/clip.webm'
FIRST_FRAME = re.compile(r'^first-frame (\d+)$', re.M)


def tracer_env():
    plugins = os.path.join(os.path.abspath(os.environ['BRINDLEMAR_BUILD_DIR']), 'bench', 'gst-plugins')
    if not os.path.exists(os.path.join(plugins, 'libgstbenchtracers.so')):
        sys.exit(f'no tracer module in {plugins}: build it with: cmake --build <build> --target bench')
    return {'GST_PLUGIN_PATH': plugins, 'GST_TRACERS': 'firstframe'}


def process_figures(pid):
    fds = len(os.listdir(f'/proc/{pid}/fd'))
    with open(f'/proc/{pid}/status') as f:
        status = f.read()
    rss = int(re.search(r'VmRSS:\s+(\d+)', status).group(1))
    threads = int(re.search(r'Threads:\s+(\d+)', status).group(1))
    return fds, threads, rss


def main():
    desktop = Desktop()
    app = App(desktop, AppTree(desktop), pages=make_pages(desktop.root),
              extra_env=tracer_env())
    try:
        app.main_window()
        app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')
        events = lambda: [r['detail']['type'] for r in app.page_reports() if r.get('event') == 'native-player']

        def cycle():
            count = events().count('time')
            app.run_in_page(f"post('brindlemarPlayer', {{action: 'play', url: '{CLIP}', title: 'Clip'}})")
            wait_for(lambda: events().count('time') > count, timeout=30, what='playback')
            app.run_in_page("post('brindlemarPlayer', {action: 'stop'})")
            wait_for(lambda: desktop.window_title(app.main_window()) == 'Brindlemar', what='the stop')

        for _ in range(3):
            cycle()
        time.sleep(2)
        before = process_figures(app.proc.pid)
        started = time.monotonic()
        for _ in range(CYCLES):
            cycle()
        elapsed = time.monotonic() - started
        time.sleep(3)
        after = process_figures(app.proc.pid)
        print(f'soak: {CYCLES} play/stop cycles in {elapsed:.1f} s')
        print(f'  open fds   {before[0]:>7} -> {after[0]}')
        print(f'  threads    {before[1]:>7} -> {after[1]}')
        print(f'  RSS (KiB)  {before[2]:>7} -> {after[2]}  ({after[2] - before[2]:+d})')

        log = os.path.join(desktop.root, 'app.log')
        native, element = [], []
        for _ in range(SAMPLES):
            with open(log) as f:
                seen = len(FIRST_FRAME.findall(f.read()))
            sent = app.run_in_page(f"(() => {{ const t = Date.now(); post('brindlemarPlayer', "
                                   f"{{action: 'play', url: '{CLIP}', title: 'Clip'}}); return t; }})()")

            def first_frame():
                with open(log) as f:
                    frames = FIRST_FRAME.findall(f.read())
                return frames[seen] if len(frames) > seen else None
            native.append(int(wait_for(first_frame, what='the first native frame')) - sent)
            app.run_in_page("post('brindlemarPlayer', {action: 'stop'})")
            # The first painted frame, by requestVideoFrameCallback; where that never
            # fires (no accelerated compositing), the 'playing' event stands in.
            element.append(app.run_in_page(
                "new Promise(resolve => { const t = Date.now(); const v = document.createElement('video');"
                " v.muted = true; v.src = '/clip.webm?' + t; document.body.appendChild(v); let playing = 0;"
                " const done = how => { if (!v.isConnected) return; resolve([(how === 'frame' ? Date.now() : playing) - t, how]);"
                " v.pause(); v.remove(); };"
                " if (v.requestVideoFrameCallback) v.requestVideoFrameCallback(() => done('frame'));"
                " v.addEventListener('playing', () => { playing = Date.now(); setTimeout(() => done('playing'), 3000); },"
                " {once: true}); v.play(); })", timeout=30))
            time.sleep(0.5)
        print(f'first frame after "play" (ms), median of {SAMPLES}:')
        print(f'  native player   {statistics.median(native):>6.0f}   (all: {native})')
        print(f'  <video> element {statistics.median(e[0] for e in element):>6.0f}   (all: {element})')
    finally:
        app.stop()
        desktop.close()


if __name__ == '__main__':
    main()
