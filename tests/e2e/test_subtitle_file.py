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

SUBTITLES = (
    '1\n00:00:00,000 --> 00:00:20,000\nSUBTITULO DE PRUEBA EN PANTALLA\n\n'
    '2\n00:00:20,000 --> 00:00:30,000\nSEGUNDA LINEA DEL ARCHIVO DE PRUEBA\n'
)


def make_pages(root):
    global _clip
    if _clip is None:
        _clip = os.path.join(tempfile.mkdtemp(prefix='brindlemar-flat-'), 'flat.webm')
        subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', f'color=c={BACKGROUND}:size=640x360:rate=15',
                        '-f', 'lavfi', '-i', 'anullsrc=r=48000:cl=mono', '-t', '20',
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

    def hold_frame(self):
        """Pauses on the frame at 3 s; the seek makes the player draw it afresh."""
        self.app.run_in_page("post('brindlemarPlayer', {action: 'pause'})")
        self.app.run_in_page("post('brindlemarPlayer', {action: 'seek', to: 3})")

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
        button = next(n for n in self.desktop.accessible('dump', 'brindlemar')
                      if n['role'] == 'toggle button' and n['name'] == 'Subtítulos')
        x, y, w, h = button['extents']
        self.desktop.run('xdotool', 'mousemove', str(x + w // 2), str(y + h // 2), 'click', '1')
        items = wait_for(lambda: [n for n in self.desktop.accessible('dump', 'brindlemar')
                                  if n['role'] == 'radio menu item' and n['showing']], what='the Subtítulos menu')
        needed = sum(n['extents'][3] for n in items)
        wait_for(lambda: any(height >= needed for height in self.popup_heights()),
                 what=f'a menu window {needed} px high')
        return [(n['name'], n['checked']) for n in items]

    def popup_heights(self):
        """Heights of the shell's windows named after the program: its popups (the main
        window carries the video's title)."""
        tree = self.desktop.run('xwininfo', '-root', '-tree').stdout
        return [int(h) for h in re.findall(r'^\s+0x[0-9a-f]+ "brindlemar": \([^)]*\)\s+\d+x(\d+)', tree, re.M)]

    def choose(self, name):
        self.desktop.press(name)

    def test_the_file_is_shown_listed_and_can_be_turned_off_and_on(self):
        self.play(", subtitleUrl: 'http://127.0.0.1:47874/flat.srt'")
        wait_for(lambda: len(self.times()) >= 2, what='playback')
        self.hold_frame()
        wait_for(lambda: self.bright_pixels('con.png') > 200, timeout=15, what='the subtitle line over the picture')

        # Chosen from the start although the page asked for no subtitles.
        self.assertEqual(self.menu(), [('Desactivados', False), ('Archivo de subtítulos', True)])
        self.choose('Desactivados')
        self.hold_frame()
        wait_for(lambda: self.bright_pixels('sin.png') < 20, timeout=15, what='the picture without the line')

        self.assertEqual(self.menu(), [('Desactivados', True), ('Archivo de subtítulos', False)])
        self.choose('Archivo de subtítulos')
        self.hold_frame()
        wait_for(lambda: self.bright_pixels('otra-vez.png') > 200, timeout=15, what='the line back')

    def test_without_the_key_nothing_is_added(self):
        self.play()
        wait_for(lambda: len(self.times()) >= 2, what='playback')
        self.hold_frame()
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
