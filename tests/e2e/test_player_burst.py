"""Native playback under strain in the real binary, while a screen reader reads the
window: many restarts, seeks and pauses in a few seconds, then a playback that must
end; a real stall over HTTP, heard once, and none for seeks and pauses on media that
streams at once; quitting while the mini-player plays. Through all of it the shell
prints no GLib, GTK or ATK critical or warning, and its window keeps answering."""

import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from desktop import SYSTEM_PYTHON, App, AppTree, Desktop, complaints, wait_for
from test_native_player import make_pages as native_pages

SERVICE = 'http://127.0.0.1:47874'
# Longer than this without an answer from the window is an outage (not a matter of
# speed: a window that answers at all answers far sooner).
OUTAGE_SECONDS = 5.0
LONG_SECONDS = 60  # the long clip: more than the player reads ahead (30 s)
_long = None


def make_pages(root):
    """The native player's fixture pages, and long.webm: a test pattern with a tone."""
    global _long
    if _long is None:
        _long = os.path.join(tempfile.mkdtemp(prefix='brindlemar-long-'), 'long.webm')
        subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', 'testsrc=size=320x180:rate=15',
                        '-f', 'lavfi', '-i', 'sine=frequency=440', '-t', str(LONG_SECONDS),
                        '-c:v', 'libvpx', '-b:v', '150k', '-deadline', 'realtime', '-cpu-used', '8',
                        '-c:a', 'libvorbis', _long], check=True)
    pages = native_pages(root)
    shutil.copy(_long, os.path.join(pages, 'long.webm'))
    return pages


def byte_offset_at(path, seconds):
    """Where in the file the first packet at or after `seconds` lies."""
    out = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'packet=pts_time,pos', '-of', 'csv=p=0', path],
                         check=True, capture_output=True, text=True).stdout
    packets = [line.split(',') for line in out.split() if line.count(',') == 1]
    return min(int(pos) for pts, pos in packets if pts != 'N/A' and pos != 'N/A' and float(pts) >= seconds)


def heartbeat(app_name):
    """Run by Debian's python3 in the desktop (see WindowWatch): asks the window of
    `app_name` for its place every 50 ms, a round trip through the application's main
    loop, and prints the time of each answer. Plain D-Bus calls on the accessibility
    bus: a client of the accessibility library stays connected and registers for
    events, and while one does, the bridge forgets the objects of destroyed widgets at
    once, which hides the very faults the screen reader here is to find (readers that
    come and go, with no one listening)."""
    from gi.repository import Gio, GLib

    session = Gio.bus_get_sync(Gio.BusType.SESSION)
    address = session.call_sync('org.a11y.Bus', '/org/a11y/bus', 'org.a11y.Bus', 'GetAddress', None,
                                GLib.VariantType('(s)'), 0, 5000, None).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)

    def call(name, path, interface, method, arguments, reply, timeout=5000):
        return bus.call_sync(name, path, interface, method, arguments, GLib.VariantType(reply), 0, timeout,
                             None).unpack()

    def children(name, path):
        return call(name, path, 'org.a11y.atspi.Accessible', 'GetChildren', None, '(a(so))')[0]

    def window():
        for name, path in children('org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root'):
            try:
                title = call(name, path, 'org.freedesktop.DBus.Properties', 'Get',
                             GLib.Variant('(ss)', ('org.a11y.atspi.Accessible', 'Name')), '(v)')[0]
                if title != app_name:
                    continue
                for child in children(name, path):
                    if call(*child, 'org.a11y.atspi.Accessible', 'GetRoleName', None, '(s)')[0] == 'frame':
                        return child
            except GLib.Error:
                continue
        return None

    deadline = time.monotonic() + 30
    frame = window()
    while frame is None:
        if time.monotonic() > deadline:
            sys.exit(f'no window of {app_name}')
        time.sleep(0.2)
        frame = window()
    while True:
        try:
            call(*frame, 'org.a11y.atspi.Component', 'GetExtents', GLib.Variant('(u)', (0,)), '((iiii))',
                 timeout=30000)
            print(f'answer {time.monotonic():.3f}', flush=True)
        except GLib.Error as e:  # an answer that did not come is an outage, not an end
            print(f'error {time.monotonic():.3f} {e.message}'.replace('\n', ' '), flush=True)
        time.sleep(0.05)


class WindowWatch:
    """While it runs: a screen reader that reads the application's whole accessible
    tree over and over, each time on a new connection (as atspi_tool does), and a
    heartbeat that asks the window for its place every 50 ms."""

    def __init__(self, desktop, app_name='brindlemar'):
        self.desktop = desktop
        self.app_name = app_name
        self.readings = 0
        self.failures = []
        self.answers = []
        self.stopping = threading.Event()
        self.beat = None

    def start(self):
        self.beat = subprocess.Popen([SYSTEM_PYTHON, os.path.abspath(__file__), 'heartbeat', self.app_name],
                                     env=self.desktop.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        self.desktop.procs.append(self.beat)
        self.listener = threading.Thread(target=self._listen, daemon=True)
        self.listener.start()
        wait_for(lambda: self.answers, what='the first answer of the window')
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: self.readings or self.failures, timeout=60, what='a first reading of the window')

    def _listen(self):
        for line in self.beat.stdout:
            kind, at = line.split()[:2]
            if kind == 'answer':
                self.answers.append(float(at))

    def _read(self):
        while not self.stopping.is_set():
            try:
                self.desktop.accessible('dump', self.app_name)
                self.readings += 1
            except Exception as e:
                self.failures.append(f'{time.monotonic():.1f}: {e}')

    def wait_for_readings(self, count):
        """Waits until the tree has been read `count` more times from now on."""
        target = self.readings + count
        wait_for(lambda: self.readings >= target or self.failures, timeout=60, what=f'{count} more readings')

    def stop(self):
        self.stopping.set()
        self.reader.join(timeout=90)
        self.beat.terminate()
        self.beat.wait(timeout=10)
        self.listener.join(timeout=10)
        self.beat.stdout.close()

    def outages(self, until):
        """The gaps between answers of the window longer than OUTAGE_SECONDS, from the
        first answer to `until` (a time.monotonic() value): [(start, seconds), ...]."""
        times = [t for t in self.answers if t <= until] + [until]
        return [(round(a, 1), round(b - a, 1)) for a, b in zip(times, times[1:]) if b - a > OUTAGE_SECONDS]


def assert_printed_nothing(test, printed, context=''):
    found = complaints(printed)
    test.assertFalse(found, f'{context}the shell printed:\n' + '\n'.join(found[:20]))


class PlayerCase(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root))
        self.addCleanup(self.app.stop)
        self.main = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')

    def events(self):
        """What the page heard of native playback, in the page's own order."""
        reports = sorted((r for r in self.app.page_reports() if r.get('event') == 'native-player'),
                         key=lambda r: r['seq'])
        return [dict(r['detail'], t=r['t']) for r in reports]

    def types(self):
        return [e['type'] for e in self.events()]

    def since_last_ready(self):
        """The events of the current playback (from its "ready" on)."""
        events = self.events()
        readies = [i for i, e in enumerate(events) if e['type'] == 'ready']
        return events[readies[-1]:] if readies else []

    def post(self, message):
        self.app.run_in_page(f"post('brindlemarPlayer', {json.dumps(message)})")

    def watch_window(self):
        watch = WindowWatch(self.desktop)
        watch.start()
        self.addCleanup(watch.stop)
        return watch

    def quit_and_check(self, watch):
        """SIGTERM to the shell: it ends with status 0 and printed nothing critical in
        its whole life; the window answered until then."""
        asked = time.monotonic()
        self.app.proc.send_signal(signal.SIGTERM)
        status = self.app.proc.wait(timeout=30)
        self.app.log.flush()
        printed = self.app.printed()
        self.assertEqual(status, 0, printed[-3000:])
        assert_printed_nothing(self, printed)
        self.assertEqual(watch.outages(until=asked), [])
        self.assertEqual(watch.failures, [])
        self.assertGreater(watch.readings, 0)


class Burst(PlayerCase):
    def test_restarts_seeks_and_pauses_in_a_burst_then_a_playback_that_ends(self):
        seed = int(os.environ.get('BURST_SEED', '20240611'))
        rng = random.Random(seed)
        clips = {'clip.webm': 20.0, 'tracks.mkv': 6.0}
        plays = []
        for i in range(20):
            name = rng.choice(sorted(clips))
            play = {'action': 'play', 'url': f'{SERVICE}/{name}', 'title': f'Ráfaga {i}',
                    'position': round(rng.uniform(0, clips[name] - 1), 1)}
            audio = rng.choice(['spa', 'eng', None])
            subtitles = rng.choice(['spa', 'eng', 'off', None])
            if audio:
                play['audio'] = audio
            if subtitles:
                play['subtitles'] = subtitles
            plays.append(play)
        actions = []
        for _ in range(125):  # every 40 ms for 5 s
            kind = rng.choice(['seek', 'seek', 'pause', 'resume'])
            actions.append({'action': kind, 'to': round(rng.uniform(0, 15), 2)} if kind == 'seek' else {'action': kind})

        watch = self.watch_window()
        # Scheduled by the page itself: 20 playbacks 300 ms apart, then a seek, pause or
        # resume every 40 ms.
        self.app.run_in_page(
            "(function () {"
            f" const plays = {json.dumps(plays)}, actions = {json.dumps(actions)};"
            " plays.forEach((m, i) => setTimeout(() => post('brindlemarPlayer', m), i * 300));"
            " const after = plays.length * 300;"
            " actions.forEach((m, i) => setTimeout(() => post('brindlemarPlayer', m), after + i * 40));"
            " setTimeout(() => report({event: 'burst-done'}), after + actions.length * 40 + 40);"
            " return 'scheduled'; })()")
        self.app.wait_report(lambda r: r.get('event') == 'burst-done', timeout=30, what='the end of the burst')
        wait_for(lambda: self.types().count('ready') == len(plays), what=f'a "ready" for each playback (seed {seed})')

        self.post({'action': 'play', 'url': f'{SERVICE}/tracks.mkv', 'position': 2, 'title': 'Final',
                   'audio': 'eng', 'subtitles': 'spa'})
        wait_for(lambda: self.types().count('ready') == len(plays) + 1, what='the last playback')
        wait_for(lambda: 'ended' in [e['type'] for e in self.since_last_ready()], timeout=40,
                 what=f'the last playback to end (seed {seed})')
        last = self.since_last_ready()
        self.assertGreaterEqual(min(e['position'] for e in last if e['type'] == 'time'), 1.9)
        self.assertEqual([t for t in self.types() if t in ('stalled', 'error')], [], f'seed {seed}')
        assert_printed_nothing(self, self.app.printed(), f'seed {seed}: ')
        self.quit_and_check(watch)


class MiniPlayerQuit(PlayerCase):
    def test_sigterm_while_the_mini_player_plays_after_restarts(self):
        watch = self.watch_window()
        self.post({'action': 'play', 'url': f'{SERVICE}/clip.webm', 'title': 'Clip'})
        wait_for(lambda: 'time' in self.types(), what='playback')
        self.app.run_in_page("post('brindlemarPip', 'enter')")
        wait_for(lambda: self.desktop.windows('Miniatura'), what='the mini-player')
        # Playback starts again a few times inside the panel, each with controls of its own.
        plays = [{'action': 'play', 'url': f'{SERVICE}/{name}', 'title': f'En el panel {i}', 'position': i % 5,
                  'audio': 'eng', 'subtitles': 'spa'}
                 for i, name in enumerate(['tracks.mkv', 'clip.webm'] * 4)]
        self.app.run_in_page(f"{json.dumps(plays)}.forEach((m, i) => setTimeout(() => post('brindlemarPlayer', m), "
                             "i * 300)) || 'scheduled'")
        wait_for(lambda: self.types().count('ready') == 1 + len(plays), what='the restarts')
        wait_for(lambda: 'time' in [e['type'] for e in self.since_last_ready()], what='the last playback')
        self.assertEqual(len(self.desktop.windows('Miniatura')), 1)
        watch.wait_for_readings(2)  # readers that come after the earlier controls went
        self.quit_and_check(watch)


class Stall(PlayerCase):
    def media(self):
        path = os.path.join(self.app.reports, 'media.jsonl')
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def positions(self, events):
        return [e['position'] for e in events if e['type'] == 'time']

    def test_bytes_held_back_mid_clip_stall_once_then_playback_goes_on_to_the_end(self):
        # The bytes from the third second on are held for 8 s once the player reaches
        # them: it plays what it has, stands still, and goes on when they come.
        offset = byte_offset_at(_long, 3.0)
        self.post({'action': 'play', 'url': f'{SERVICE}/media/long.webm?holdAt={offset}&holdMs=8000', 'title': 'Lento'})
        wait_for(lambda: 'stalled' in self.types(), timeout=30, what='stalled')
        events = self.events()
        stalled = next(e for e in events if e['type'] == 'stalled')
        before = self.positions(events[:events.index(stalled)])
        self.assertTrue(before, 'stalled before playback began')
        self.assertTrue(1.0 < before[-1] < 4.0, before)
        notes = self.media()
        hold = [n for n in notes if n['event'] == 'hold']
        self.assertEqual(len(hold), 1, notes)
        self.assertGreaterEqual(stalled['t'], hold[0]['t'])
        self.assertNotIn('release', [n['event'] for n in notes if n['t'] <= stalled['t']])

        wait_for(lambda: any(p > before[-1] + 1.0 for p in self.positions(self.events())), timeout=30,
                 what='progress after the bytes came')
        self.post({'action': 'seek', 'to': LONG_SECONDS - 4})  # the end comes sooner
        wait_for(lambda: 'ended' in self.types(), timeout=30, what='ended')
        types = self.types()
        self.assertEqual(types.count('stalled'), 1, types)
        self.assertEqual(types.count('ended'), 1, types)
        self.assertNotIn('error', types)
        assert_printed_nothing(self, self.app.printed())

    def test_seek_pause_and_resume_on_media_that_streams_at_once_never_stall(self):
        self.post({'action': 'play', 'url': f'{SERVICE}/media/long.webm', 'title': 'Rápido'})
        progress = lambda low, high=LONG_SECONDS: any(low <= p < high for p in self.positions(self.events()))
        wait_for(lambda: progress(1.0), what='playback')
        # Beyond what the player has read ahead: it fetches from there.
        self.post({'action': 'seek', 'to': 45})
        wait_for(lambda: progress(45.5), what='playback after a seek ahead')
        self.post({'action': 'pause'})
        time.sleep(0.5)
        self.post({'action': 'seek', 'to': 5})  # back, while paused
        time.sleep(0.2)
        seen = len(self.events())
        self.post({'action': 'resume'})
        wait_for(lambda: any(5.0 <= p < 9.0 for p in self.positions(self.events()[seen:])),
                 what='playback after a seek back')
        self.post({'action': 'pause'})
        time.sleep(0.3)
        self.post({'action': 'resume'})
        self.post({'action': 'seek', 'to': LONG_SECONDS - 3})  # right after resuming
        wait_for(lambda: 'ended' in self.types(), timeout=30, what='ended')
        types = self.types()
        self.assertNotIn('stalled', types)
        self.assertNotIn('error', types)
        self.assertEqual(types.count('ended'), 1, types)
        requests = [n for n in self.media() if n['event'] == 'request']
        self.assertGreater(len(requests), 1, 'the seek ahead was served from what the player had read')
        assert_printed_nothing(self, self.app.printed())


if __name__ == '__main__':
    if sys.argv[1:2] == ['heartbeat']:
        heartbeat(sys.argv[2])
    else:
        unittest.main()
