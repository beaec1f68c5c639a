"""What a daily viewer does with the native player, with real key presses and clicks:
speed, tracks, chapters and "Saltar intro", the subtitle delay, the next-episode card,
the volume kept across launches, and the reason of a failure."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from desktop import FIXTURE_SERVICE, App, AppTree, Desktop, wait_for

BACKGROUND = '0x204060'  # one colour: any bright pixel is a subtitle
CLIP_SECONDS = 30
CHAPTERS = [(0, 8, 'Intro'), (8, 20, 'Parte principal'), (20, CLIP_SECONDS, 'Créditos')]
LINE_AT = 12  # the English subtitle line starts here and stays to the end
ORIGIN = 'http://127.0.0.1:47874'
_clip_dir = None


def clip_dir():
    """A clip with chapters, two audio tracks (eng, spa) and two subtitle tracks, made
    once for the module."""
    global _clip_dir
    if _clip_dir:
        return _clip_dir
    _clip_dir = tempfile.mkdtemp(prefix='brindlemar-features-')
    d = _clip_dir
    meta = os.path.join(d, 'chapters.txt')
    with open(meta, 'w') as f:
        f.write(';FFMETADATA1\n')
        for start, end, title in CHAPTERS:
            f.write(f'[CHAPTER]\nTIMEBASE=1/1000\nSTART={start * 1000}\nEND={end * 1000}\ntitle={title}\n')
    for lang, text in (('eng', 'LINEA DE PRUEBA EN PANTALLA'), ('spa', 'OTRA LINEA')):
        with open(os.path.join(d, f'{lang}.srt'), 'w') as f:
            f.write(f'1\n00:00:{LINE_AT:02d},000 --> 00:00:{CLIP_SECONDS:02d},000\n{text}\n')
    subprocess.run(['ffmpeg', '-loglevel', 'error',
                    '-f', 'lavfi', '-i', f'color=c={BACKGROUND}:size=640x360:rate=15',
                    '-f', 'lavfi', '-i', 'sine=frequency=440:sample_rate=48000',
                    '-f', 'lavfi', '-i', 'sine=frequency=660:sample_rate=48000',
                    '-i', os.path.join(d, 'eng.srt'), '-i', os.path.join(d, 'spa.srt'), '-i', meta,
                    '-map', '0:v', '-map', '1:a', '-map', '2:a', '-map', '3', '-map', '4',
                    '-map_metadata', '5', '-map_chapters', '5',
                    '-metadata:s:a:0', 'language=eng', '-metadata:s:a:1', 'language=spa',
                    '-metadata:s:s:0', 'language=eng', '-metadata:s:s:1', 'language=spa',
                    '-t', str(CLIP_SECONDS), '-c:v', 'libvpx', '-b:v', '100k', '-c:a', 'libvorbis', '-c:s', 'srt',
                    os.path.join(d, 'serie.mkv')], check=True)
    # Not a video at all, under a video's name.
    with open(os.path.join(d, 'roto.mkv'), 'wb') as f:
        f.write(b'esto no es un video ' * 500)
    return d


def make_pages(root):
    pages = os.path.join(root, 'pages')
    shutil.copytree(os.path.join(FIXTURE_SERVICE, 'pages'), pages)
    for name in ('serie.mkv', 'roto.mkv'):
        shutil.copy(os.path.join(clip_dir(), name), os.path.join(pages, name))
    return pages


class PlayerFeatures(unittest.TestCase):
    """One desktop and one running shell for the whole class: each test starts a
    playback of its own, which replaces the one before."""

    @classmethod
    def setUpClass(cls):
        cls.desktop = Desktop()
        try:
            cls.desktop.start_mock('screensaver')
            cls.pages = make_pages(cls.desktop.root)
            cls.tree = AppTree(cls.desktop)
            cls.app = None
            cls.launch()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            if cls.app:
                cls.app.stop()  # fails on any critical or warning the shell printed
        finally:
            cls.desktop.close()

    def setUp(self):
        self.mark()

    @classmethod
    def launch(cls):
        cls.app = App(cls.desktop, cls.tree, pages=cls.pages)
        cls.wid = cls.app.main_window()
        cls.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')

    # ---- helpers ----
    def events(self, kind=None):
        return [dict(r['detail'], t=r['t']) for r in self.app.page_reports()
                if r.get('event') == 'native-player' and (kind is None or r['detail']['type'] == kind)]

    def play(self, name='serie.mkv', **keys):
        self.mark()
        fields = ''.join(f", {k}: {v!r}" for k, v in keys.items())
        self.app.run_in_page(f"post('brindlemarPlayer', {{action: 'play', url: '{ORIGIN}/{name}', "
                             f"title: 'Episodio 1'{fields}}})")

    def mark(self):
        """Later waits look only at events from now on."""
        type(self).since = len(self.events())

    def wait_time(self, predicate, what, timeout=30):
        return wait_for(lambda: [e for e in self.events()[self.since:]
                                 if e['type'] == 'time' and predicate(e['position'])],
                        timeout=timeout, what=what)[-1]

    def keys(self, *keys):
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.wid), check=False)
        for key in keys:
            self.desktop.key(key)

    def pace(self, seconds=4):
        """Media seconds per second of the page's clock, over the next `seconds`."""
        start = len(self.events('time'))
        ticks = wait_for(lambda: self.events('time')[start:] if len(self.events('time')) - start >= seconds + 1
                         else None, timeout=seconds * 4, what='time events')
        first, last = ticks[0], ticks[-1]
        return (last['position'] - first['position']) / ((last['t'] - first['t']) / 1000)

    def shown(self, role, name):
        return next((n for n in self.desktop.accessible('dump', 'brindlemar')
                     if n['role'] == role and n['name'] == name and n['showing']), None)

    def click(self, role, name):
        """A real click in the middle of the widget, once it is on screen."""
        node = wait_for(lambda: self.shown(role, name), what=f'{name!r} on screen')
        x, y, w, h = node['extents']
        self.desktop.run('xdotool', 'mousemove', str(x + w // 2), str(y + h // 2), 'click', '1')

    def subtitle_pixels(self, name):
        path = os.path.join(self.desktop.root, name)
        self.desktop.screenshot(path, window=self.wid)
        w, h = map(int, self.desktop.run('identify', '-format', '%w %h', path).stdout.split())
        top = int(h * 0.55)
        out = self.desktop.run('convert', path, '-crop', f'{w}x{h - 90 - top}+0+{top}', '+repage',
                               '-colorspace', 'Gray', '-threshold', '85%', '-format', '%[fx:mean*w*h]',
                               'info:').stdout
        return float(out)

    # ---- tests ----
    def test_keys_switch_tracks_change_speed_and_step_through_chapters(self):
        self.play(audio='en', subtitles='off')
        self.wait_time(lambda p: p > 0.5, 'playback')

        # A: the next audio track; the page hears which, by index.
        self.keys('a')
        tracks = wait_for(lambda: self.events('tracks'), what='a "tracks" event')[-1]
        self.assertEqual((tracks['audio'], tracks['subtitles']), (1, -1))
        self.keys('s')
        tracks = wait_for(lambda: [e for e in self.events('tracks') if e['subtitles'] == 0],
                          what='subtitles on by key')[-1]
        self.assertEqual(tracks['audio'], 1)

        # ] four times: 2x. The media time runs twice as fast as the clock.
        normal = self.pace()
        self.keys('bracketright', 'bracketright', 'bracketright', 'bracketright')
        fast = self.pace()
        self.assertLess(normal, 1.3)
        self.assertGreater(fast, 1.6)
        self.keys('BackSpace')

        # Page Down: the start of the next chapter.
        self.mark()
        self.app.run_in_page("post('brindlemarPlayer', {action: 'seek', to: 2})")
        self.wait_time(lambda p: p < 6, 'the seek back into the intro')
        self.mark()
        self.keys('Next')
        landed = self.wait_time(lambda p: p >= 8, 'the next chapter')
        self.assertLess(landed['position'], 12)

        # ? lists the keys, in Spanish; any other key puts the list away.
        self.keys('question')
        wait_for(lambda: self.shown('label', 'Teclas del reproductor'), what='the list of keys')
        self.keys('k')
        wait_for(lambda: not self.shown('label', 'Teclas del reproductor'), what='the list put away')

    def test_saltar_intro_appears_in_the_intro_and_jumps_past_it(self):
        self.play()
        self.wait_time(lambda p: p > 0.5, 'playback')
        self.click('push button', 'Saltar intro')
        self.wait_time(lambda p: p >= 8, 'a jump past the intro')
        wait_for(lambda: not self.shown('push button', 'Saltar intro'), what='the button gone after the intro')

    def test_the_next_episode_card_counts_down_to_next_and_cancelar_sends_nothing(self):
        self.play(position=19, next='Episodio 2')
        wait_for(lambda: self.shown('label', 'Siguiente: Episodio 2'), timeout=30, what='the next-episode card')
        wait_for(lambda: self.events('next'), timeout=30, what='{type: "next"} when the countdown runs out')

        self.play(position=19, next='Episodio 2')
        before = len(self.events('next'))
        self.click('push button', 'Cancelar')
        wait_for(lambda: not self.shown('label', 'Siguiente: Episodio 2'), what='the card gone')
        ended = len(self.events('ended'))
        wait_for(lambda: len(self.events('ended')) > ended, timeout=30, what='the end')
        time.sleep(3)
        self.assertEqual(len(self.events('next')), before)

    def test_the_subtitle_delay_moves_the_line(self):
        self.play(position=LINE_AT - 2, subtitles='en')
        self.wait_time(lambda p: p >= LINE_AT - 1.5, 'playback before the line')
        self.app.run_in_page("post('brindlemarPlayer', {action: 'pause'})")
        time.sleep(1)
        self.assertLess(self.subtitle_pixels('before.png'), 50, 'no line yet')
        # 25 steps of 100 ms earlier: the line is due 2.5 s sooner, so it is there now.
        self.keys(*['z'] * 25)
        wait_for(lambda: self.subtitle_pixels('earlier.png') > 200, timeout=15, what='the line, 2.5 s earlier')
        self.keys(*['x'] * 25)
        wait_for(lambda: self.subtitle_pixels('back.png') < 50, timeout=15, what='the line gone again at 0 ms')

    def test_the_volume_is_kept_across_launches(self):
        def volume():
            return next((n['value'] for n in self.desktop.accessible('dump', 'brindlemar')
                         if n['role'] == 'slider' and n['name'] == 'Volumen'), None)

        self.play()
        self.wait_time(lambda p: p > 0.5, 'playback')
        self.keys('Down', 'Down', 'Down', 'Down')
        wait_for(lambda: volume() is not None and abs(volume() - 0.8) < 0.01, what='80 % by key')
        settings = os.path.join(self.desktop.env['XDG_CONFIG_HOME'], 'com.brindlemar.app', 'player.ini')
        wait_for(lambda: os.path.exists(settings) and 'volume=0.8' in open(settings).read(),
                 what='the volume written')
        self.app.stop()
        # The next shell's fixture service starts afresh: it would run again every
        # command queued for the page so far, and the page's reports would mix.
        for name in ('commands.txt', 'reports.jsonl'):
            os.remove(os.path.join(self.app.reports, name))
        type(self).app = None
        self.launch()
        self.play()
        self.wait_time(lambda p: p > 0.5, 'playback after the second launch')
        wait_for(lambda: volume() is not None and abs(volume() - 0.8) < 0.01, what='80 % again')

    def test_a_file_that_is_no_video_fails_with_its_reason(self):
        self.play(name='roto.mkv')
        error = wait_for(lambda: self.events('error'), what='an error')[-1]
        self.assertEqual(error.get('code'), 1)


if __name__ == '__main__':
    unittest.main()
