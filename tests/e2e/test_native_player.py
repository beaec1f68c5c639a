"""Native playback in the real binary: the page's requests, the events it hears,
the keys and buttons that end playback, and picture-in-picture."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from desktop import FIXTURE_SERVICE, App, AppTree, Desktop, wait_for

SCREENSAVER = ('org.freedesktop.ScreenSaver', '/org/freedesktop/ScreenSaver')
CLIP_SECONDS = 20.0
_clip = None
_tracks = None


def make_tracks_clip(directory):
    """tracks.mkv: 6 s of VP8, Vorbis audio in spa then eng, SubRip in spa then eng."""
    for name, text in (('es.srt', 'Uno'), ('en.srt', 'One')):
        with open(os.path.join(directory, name), 'w') as f:
            f.write(f'1\n00:00:00,000 --> 00:00:05,900\n{text}\n')
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', 'testsrc=size=320x180:rate=15:duration=6',
                    '-f', 'lavfi', '-i', 'sine=frequency=440:duration=6',
                    '-f', 'lavfi', '-i', 'sine=frequency=660:duration=6', '-i', 'es.srt', '-i', 'en.srt',
                    '-map', '0:v', '-map', '1:a', '-map', '2:a', '-map', '3:s', '-map', '4:s',
                    '-c:v', 'libvpx', '-b:v', '150k', '-c:a', 'libvorbis', '-c:s', 'srt',
                    '-metadata:s:a:0', 'language=spa', '-metadata:s:a:1', 'language=eng',
                    '-metadata:s:s:0', 'language=spa', '-metadata:s:s:1', 'language=eng', 'tracks.mkv'],
                   cwd=directory, check=True)
    return os.path.join(directory, 'tracks.mkv')


def make_pages(root):
    """The fixture pages with clip.webm, a test pattern with a tone, and tracks.mkv
    (made once per run)."""
    global _clip, _tracks
    if _clip is None:
        directory = tempfile.mkdtemp(prefix='brindlemar-clip-')
        _clip = os.path.join(directory, 'clip.webm')
        subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', 'testsrc=size=320x180:rate=15',
                        '-f', 'lavfi', '-i', 'sine=frequency=440', '-t', str(CLIP_SECONDS),
                        '-c:v', 'libvpx', '-b:v', '150k', '-c:a', 'libvorbis', _clip], check=True)
        _tracks = make_tracks_clip(directory)
    pages = os.path.join(root, 'pages')
    shutil.copytree(os.path.join(FIXTURE_SERVICE, 'pages'), pages)
    shutil.copy(_clip, os.path.join(pages, 'clip.webm'))
    shutil.copy(_tracks, os.path.join(pages, 'tracks.mkv'))
    return pages


class PlaybackCase(unittest.TestCase):
    """The real binary on the fixture pages with the clip, its library page loaded;
    what the page heard of native playback."""

    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.desktop.start_mock('screensaver')
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root))
        self.addCleanup(self.app.stop)
        self.wid = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')

    def events(self):
        return [r['detail'] for r in self.app.page_reports() if r.get('event') == 'native-player']

    def types(self):
        return [e['type'] for e in self.events()]

    def times(self):
        return [e for e in self.events() if e['type'] == 'time']

    def play(self, url='http://127.0.0.1:47874/clip.webm', position=0, title='Clip'):
        self.app.run_in_page(f"post('brindlemarPlayer', {{action: 'play', url: '{url}', "
                             f"position: {position}, title: '{title}'}})")


class NativePlayer(PlaybackCase):
    def calls(self, method):
        return [c for c in self.desktop.mock_calls(*SCREENSAVER) if c[0] == method]

    def title(self):
        return self.desktop.window_title(self.wid)

    def widgets(self):
        return {(n['role'], n['name']): n['showing'] for n in self.desktop.accessible('dump', 'brindlemar')
                if not n['in_document']}

    def test_play_reports_progress_and_acts_on_seek_pause_and_resume(self):
        self.play(position=2)
        wait_for(lambda: len(self.times()) >= 2, what='time events')
        self.assertEqual(self.types()[0], 'ready')
        self.assertEqual(self.title(), 'Clip')
        first, second = self.times()[0], self.times()[1]
        self.assertGreaterEqual(first['position'], 1.9)  # resumed at 2 s
        self.assertGreater(second['position'], first['position'])
        self.assertAlmostEqual(second['duration'], CLIP_SECONDS, delta=0.5)
        wait_for(lambda: self.calls('Inhibit'), what='the wake lock while playing')

        self.app.run_in_page("post('brindlemarPlayer', {action: 'pause'})")
        wait_for(lambda: self.calls('UnInhibit'), what='the wake lock released on pause')
        count = len(self.times())
        time.sleep(1.5)
        self.assertEqual(len(self.times()), count)  # no progress while paused

        self.app.run_in_page("post('brindlemarPlayer', {action: 'seek', to: 0.5})")
        self.app.run_in_page("post('brindlemarPlayer', {action: 'resume'})")
        wait_for(lambda: len(self.calls('Inhibit')) == 2, what='the wake lock again')
        wait_for(lambda: len(self.times()) > count, what='progress again')
        self.assertLess(self.times()[count]['position'], 2.0)  # after the seek back

    def test_space_pauses_and_resumes_and_arrows_seek(self):
        self.play()
        wait_for(lambda: self.times(), what='playback')
        wait_for(lambda: self.calls('Inhibit'), what='the wake lock while playing')
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.wid))
        self.desktop.key('space')
        wait_for(lambda: self.calls('UnInhibit'), what='a pause')
        self.desktop.key('space')
        wait_for(lambda: len(self.calls('Inhibit')) == 2, what='playing again')
        count = len(self.times())
        wait_for(lambda: len(self.times()) > count, what='progress')
        before = self.times()[-1]['position']
        self.desktop.key('Right')
        wait_for(lambda: self.times()[-1]['position'] >= before + 8, what='a jump forward')
        self.desktop.key('Left')
        wait_for(lambda: self.times()[-1]['position'] < before + 5, what='a jump back')
        self.assertNotIn('closed', self.types())

    def test_resuming_in_another_audio_language_plays_from_there_to_the_end(self):
        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/tracks.mkv', "
                             "position: 2, title: 'C', audio: 'eng', subtitles: 'spa'})")
        wait_for(lambda: 'ended' in self.types(), timeout=30, what='ended')
        self.assertEqual(self.types()[0], 'ready')
        self.assertNotIn('stalled', self.types())
        self.assertNotIn('error', self.types())
        positions = [t['position'] for t in self.times()]
        self.assertTrue(positions, 'no time events before the end')
        self.assertGreaterEqual(positions[0], 1.9)  # resumed at 2 s
        self.assertEqual(positions, sorted(positions))

    def test_the_end_sends_ended_and_the_player_stays(self):
        self.play(position=CLIP_SECONDS - 2)
        wait_for(lambda: 'ended' in self.types(), timeout=30, what='ended')
        time.sleep(0.5)
        self.assertNotIn('closed', self.types())
        self.assertEqual(self.title(), 'Clip')

    def test_a_missing_video_sends_error_and_no_closed(self):
        self.play(url='http://127.0.0.1:47874/no-existe.webm', title='Nada')
        wait_for(lambda: 'error' in self.types(), what='error')
        time.sleep(0.5)
        self.assertEqual(self.types(), ['ready', 'error'])
        wait_for(lambda: self.title() == 'Brindlemar', what='the title back')

    def test_escape_ends_playback(self):
        self.play()
        wait_for(lambda: self.times(), what='playback')
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.wid))
        self.desktop.key('Escape')
        wait_for(lambda: 'closed' in self.types(), what='closed')
        self.assertEqual(self.types().count('closed'), 1)
        wait_for(lambda: self.title() == 'Brindlemar', what='the title back')
        wait_for(lambda: self.calls('UnInhibit'), what='the wake lock released')

    def test_the_back_button_ends_playback(self):
        self.play()
        wait_for(lambda: self.times(), what='playback')
        # Its text is on screen, not only its accessible name: the button is as wide
        # as the text, not an empty square.
        button = [n for n in self.desktop.accessible('dump', 'brindlemar')
                  if (n['role'], n['name']) == ('push button', '\u2190 Volver')][0]
        self.assertGreater(button['extents'][2], 2 * button['extents'][3], 'the back button shows no text')
        self.desktop.press('\u2190 Volver')
        wait_for(lambda: 'closed' in self.types(), what='closed')
        wait_for(lambda: self.title() == 'Brindlemar', what='the title back')
        self.assertNotIn(('push button', '\u2190 Volver'), self.widgets())

    def test_picture_in_picture_hides_and_restores_the_player_view(self):
        self.play()
        wait_for(lambda: self.times(), what='playback')
        self.assertTrue(self.widgets()[('push button', '\u2190 Volver')])
        self.desktop.press('Imagen en imagen')
        wait_for(lambda: self.desktop.windows('Imagen en imagen'), what='the picture-in-picture window')
        wait_for(lambda: not self.widgets().get(('push button', '\u2190 Volver')), what='the player view hidden')
        count = len(self.times())
        wait_for(lambda: len(self.times()) > count, what='playback going on')

        self.desktop.press('Volver al reproductor')
        wait_for(lambda: not self.desktop.windows('Imagen en imagen'), what='the window to close')
        wait_for(lambda: self.widgets().get(('push button', '\u2190 Volver')), what='the player view back')
        self.assertNotIn('closed', self.types())

        # Ending playback while the picture is out closes its window too.
        self.desktop.press('Imagen en imagen')
        wait_for(lambda: self.desktop.windows('Imagen en imagen'), what='the picture-in-picture window')
        self.app.run_in_page("post('brindlemarPlayer', {action: 'stop'})")
        wait_for(lambda: not self.desktop.windows('Imagen en imagen'), what='the window to close')


if __name__ == '__main__':
    unittest.main()
