"""A subtitle file sent with the video: listed and selectable in the Subtítulos menu,
and drawn over the picture."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from desktop import FIXTURE_SERVICE, App, AppTree, Desktop, wait_for

BACKGROUND = '0x204060'  # the clip is this one colour, so any bright pixel is text
_clip = None

CLIP_SECONDS = 60  # long enough for every step to look at it while it plays
SUBTITLES = (
    '1\n00:00:00,000 --> 00:01:00,000\nSUBTITULO DE PRUEBA EN PANTALLA\n\n'
    '2\n00:01:00,000 --> 00:01:10,000\nSEGUNDA LINEA DEL ARCHIVO DE PRUEBA\n'
)


def make_pages(root):
    global _clip
    if _clip is None:
        _clip = os.path.join(tempfile.mkdtemp(prefix='brindlemar-flat-'), 'flat.webm')
        subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', f'color=c={BACKGROUND}:size=640x360:rate=15',
                        '-f', 'lavfi', '-i', 'anullsrc=r=48000:cl=mono', '-t', str(CLIP_SECONDS),
                        '-c:v', 'libvpx', '-b:v', '100k', '-c:a', 'libvorbis', _clip], check=True)
    pages = os.path.join(root, 'pages')
    shutil.copytree(os.path.join(FIXTURE_SERVICE, 'pages'), pages)
    shutil.copy(_clip, os.path.join(pages, 'flat.webm'))
    with open(os.path.join(pages, 'flat.srt'), 'w') as f:
        f.write(SUBTITLES)
    return pages


class SubtitleFile(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.desktop.start_mock('screensaver')
        # The menu is opened through accessibility, without an input event: GTK says so.
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root),
                       tolerate=('no trigger event for menu popup',))
        self.addCleanup(self.app.stop)
        self.wid = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')

    def times(self):
        return [r['detail'] for r in self.app.page_reports()
                if r.get('event') == 'native-player' and r['detail']['type'] == 'time']

    def play(self, extra=''):
        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/flat.webm', "
                             f"title: 'Plano', subtitles: 'off'{extra}}})")

    def bright_pixels(self, name):
        """Near-white pixels in the lower part of the picture, above the control bar."""
        path = os.path.join(self.desktop.root, name)
        self.desktop.screenshot(path, window=self.wid)
        w, h = map(int, self.desktop.run('identify', '-format', '%w %h', path).stdout.split())
        top = int(h * 0.55)
        crop = f'{w}x{h - 90 - top}+0+{top}'
        out = self.desktop.run('convert', path, '-crop', crop, '+repage', '-colorspace', 'Gray',
                               '-threshold', '85%', '-format', '%[fx:mean*w*h]', 'info:').stdout
        return float(out)

    def menu(self):
        """Opens the Subtítulos menu with a real click and reads its entries, once the
        menu's window is big enough to show them all (it once opened as a sliver sized
        for no entries)."""
        def items():
            return [n for n in self.desktop.accessible('dump', 'brindlemar')
                    if n['role'] == 'radio menu item' and n['showing']]

        def click_button():
            x, y, w, h = self.shown_button('Subtítulos')['extents']
            self.desktop.run('xdotool', 'mousemove', str(x + w // 2), str(y + h // 2), 'click', '1')
            try:
                return wait_for(items, timeout=8, what='the Subtítulos menu')
            except AssertionError:
                return None  # the bar hid before the click came: once more

        found = wait_for(click_button, timeout=60, what='the Subtítulos menu opened by a click')
        needed = sum(n['extents'][3] for n in found)
        wait_for(lambda: any(height >= needed for height in self.popup_heights()),
                 what=f'a menu window {needed} px high')
        return [(n['name'], n['checked']) for n in found]

    def shown_button(self, name):
        """The control bar's button `name`, once it is on screen. While the video plays,
        the bar hides a few seconds after the pointer last moved; the pointer moves over
        the picture until the bar is back."""
        nudge = [0]

        def find():
            nudge[0] ^= 1
            self.desktop.run('xdotool', 'mousemove', '--window', str(self.wid), str(300 + 20 * nudge[0]), '200')
            return next((n for n in self.desktop.accessible('dump', 'brindlemar')
                         if n['role'] == 'toggle button' and n['name'] == name and n['showing']
                         and n['extents'][0] >= 0 and n['extents'][2] > 0), None)
        return wait_for(find, what=f'the {name} button on screen')

    def popup_heights(self):
        """Heights of the shell's windows named after the program: its popups (the main
        window carries the video's title)."""
        tree = self.desktop.run('xwininfo', '-root', '-tree').stdout
        return [int(h) for h in re.findall(r'^\s+0x[0-9a-f]+ "brindlemar": \([^)]*\)\s+\d+x(\d+)', tree, re.M)]

    def choose(self, name):
        self.desktop.press(name)

    # The picture is looked at while it plays. The subtitle overlay never holds a frame
    # back for its text, so a frame drawn right after a seek can come before the line
    # (fetched again after every seek): a paused picture may stay without it.
    def test_the_file_is_shown_listed_and_can_be_turned_off_and_on(self):
        self.play(", subtitleUrl: 'http://127.0.0.1:47874/flat.srt'")
        wait_for(lambda: len(self.times()) >= 2, what='playback')
        wait_for(lambda: self.bright_pixels('con.png') > 200, timeout=15, what='the subtitle line over the picture')

        # Chosen from the start although the page asked for no subtitles.
        self.assertEqual(self.menu(), [('Desactivados', False), ('Archivo de subtítulos', True)])
        self.choose('Desactivados')
        wait_for(lambda: self.bright_pixels('sin.png') < 20, timeout=15, what='the picture without the line')

        self.assertEqual(self.menu(), [('Desactivados', True), ('Archivo de subtítulos', False)])
        self.choose('Archivo de subtítulos')
        wait_for(lambda: self.bright_pixels('otra-vez.png') > 200, timeout=15, what='the line back')

    def test_without_the_key_nothing_is_added(self):
        self.play()
        wait_for(lambda: len(self.times()) >= 2, what='playback')
        wait_for(lambda: self.bright_pixels('sin-clave.png') < 20, timeout=15, what='the frame, without text')
        self.assertEqual(self.menu(), [('Desactivados', True)])

    def test_a_subtitle_file_off_the_service_origin_drops_the_request(self):
        self.play(", subtitleUrl: 'http://127.0.0.1:8080/flat.srt'")
        self.play(", subtitleUrl: 'file:///etc/passwd'")
        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/flat.webm', "
                             "title: 'Después'})")
        wait_for(lambda: self.times(), what='the request that follows')
        self.assertEqual([r['detail']['type'] for r in self.app.page_reports()
                          if r.get('event') == 'native-player'][0], 'ready')
        self.assertEqual(self.desktop.window_title(self.wid), 'Después')
        # Only the last request started a player: one "ready".
        self.assertEqual([r['detail']['type'] for r in self.app.page_reports()
                          if r.get('event') == 'native-player'].count('ready'), 1)


if __name__ == '__main__':
    unittest.main()
