"""The desktop's media controls (MPRIS2 on the session bus) during native playback:
what they show, what their commands do to the player and the page, and that the
application is one player that goes away when playback ends."""

import time
import unittest

from desktop import wait_for
from test_native_player import CLIP_SECONDS, PlaybackCase

NAME = 'org.mpris.MediaPlayer2.brindlemar'


class MediaControls(PlaybackCase):
    def playerctl(self, *args):
        out = self.desktop.run('playerctl', *args, check=False)
        return out.stdout.strip() if out.returncode == 0 else None

    def ctl(self, *args):
        return self.playerctl('--player=brindlemar', *args)

    def players(self):
        listed = self.playerctl('--list-all') or ''
        return [line for line in listed.splitlines() if line and 'No players' not in line]

    def owned(self):
        out = self.desktop.run('gdbus', 'call', '--session', '--dest', 'org.freedesktop.DBus', '--object-path',
                               '/org/freedesktop/DBus', '--method', 'org.freedesktop.DBus.NameHasOwner', NAME,
                               check=False)
        return out.stdout.startswith('(true')

    def bus(self, method, *args):
        out = self.desktop.run('gdbus', 'call', '--session', '--dest', NAME, '--object-path', '/org/mpris/MediaPlayer2',
                               '--method', method, *args, check=False)
        return out.stdout.strip() if out.returncode == 0 else out.stderr.strip()

    def get(self, prop):
        return self.bus('org.freedesktop.DBus.Properties.Get', 'org.mpris.MediaPlayer2.Player', prop)

    def set_rate(self, rate):
        return self.bus('org.freedesktop.DBus.Properties.Set', 'org.mpris.MediaPlayer2.Player', 'Rate', f'<{rate}>')

    def advancing(self):
        """True when progress events keep coming with growing positions."""
        count = len(self.times())
        try:
            wait_for(lambda: len(self.times()) >= count + 2, timeout=6, what='progress')
        except AssertionError:
            return False
        last = self.times()
        return last[-1]['position'] > last[-2]['position']

    def test_bus_commands_act_on_native_playback_and_the_page_hears_them(self):
        self.assertFalse(self.owned())
        self.play(title='Clip de prueba')
        wait_for(lambda: self.ctl('status') == 'Playing', what='Playing on the bus')
        self.assertEqual(self.ctl('metadata', 'xesam:title'), 'Clip de prueba')
        # The library page plays no media of its own, so WebKit publishes no player beside it.
        self.assertEqual(self.players(), ['brindlemar'])
        length = wait_for(lambda: self.ctl('metadata', 'mpris:length'), what='the length')
        self.assertAlmostEqual(int(length) / 1e6, CLIP_SECONDS, delta=0.5)
        self.assertEqual(self.desktop.run('gdbus', 'call', '--session', '--dest', NAME, '--object-path',
                                          '/org/mpris/MediaPlayer2', '--method', 'org.freedesktop.DBus.Properties.Get',
                                          'org.mpris.MediaPlayer2', 'DesktopEntry').stdout.strip(),
                         "(<'com.brindlemar.app'>,)")

        self.ctl('pause')
        wait_for(lambda: self.ctl('status') == 'Paused', what='Paused on the bus')
        count = len(self.times())
        time.sleep(1.5)
        self.assertLessEqual(len(self.times()), count + 1)  # at most one already on its way
        self.ctl('play')
        wait_for(lambda: self.ctl('status') == 'Playing', what='Playing again')
        self.assertTrue(self.advancing())

        self.ctl('position', '12')  # SetPosition with the current track
        wait_for(lambda: self.times()[-1]['position'] >= 11.5, what='the page hearing the new position')
        self.assertLess(self.times()[-1]['position'], 16)

        self.ctl('stop')  # as Escape: playback ends and the page hears "closed"
        wait_for(lambda: 'closed' in self.types(), what='closed')
        wait_for(lambda: not self.owned(), what='the name released')
        wait_for(lambda: self.desktop.window_title(self.wid) == 'Brindlemar', what='the title back')
        self.assertEqual(self.types().count('closed'), 1)

        # A second playback is published again; Escape ends it and takes the name away.
        self.play(title='Otra vez')
        wait_for(lambda: self.ctl('metadata', 'xesam:title') == 'Otra vez', what='the second playback')
        wait_for(lambda: self.times() and self.types()[-1] == 'time', what='playback')
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.wid))
        self.desktop.key('Escape')
        wait_for(lambda: not self.owned(), what='the name released after Escape')
        # The name goes at once; "closed" reaches the page through its web process, later.
        wait_for(lambda: self.types().count('closed') == 2, what='the second closed')


    def test_the_desktop_sets_the_speed_and_goes_next_only_when_something_follows(self):
        self.play(title='Sin siguiente')
        wait_for(lambda: self.ctl('status') == 'Playing', what='Playing on the bus')
        self.assertEqual(self.get('MinimumRate'), '(<0.5>,)')
        self.assertEqual(self.get('MaximumRate'), '(<2.0>,)')
        self.assertEqual(self.get('Rate'), '(<1.0>,)')
        self.assertEqual(self.get('CanGoNext'), '(<false>,)')
        # The speed is the player's: set from the bus, held to the range, and shown back.
        for asked, shown in (('1.5', '(<1.5>,)'), ('5.0', '(<2.0>,)'), ('0.1', '(<0.5>,)'), ('1.25', '(<1.25>,)')):
            self.assertEqual(self.set_rate(asked), '()')
            wait_for(lambda: self.get('Rate') == shown, what=f'the rate {shown} after asking {asked}')
        self.assertIn('InvalidArgs', self.bus('org.freedesktop.DBus.Properties.Set', 'org.mpris.MediaPlayer2.Player',
                                              'Volume', '<0.5>'))  # the control bar's alone
        # A rate of 0 pauses, as the protocol has it.
        self.set_rate('0.0')
        wait_for(lambda: self.ctl('status') == 'Paused', what='paused by a rate of 0')
        self.assertEqual(self.get('Rate'), '(<1.25>,)')
        # Nothing follows: Next does nothing.
        self.assertEqual(self.bus('org.mpris.MediaPlayer2.Player.Next'), '()')
        time.sleep(1.5)
        self.assertNotIn('next', self.types())

        # An episode with one after it: Next asks the page for it, once.
        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/clip.webm', "
                             "title: 'Episodio 1', next: 'Episodio 2'})")
        wait_for(lambda: self.ctl('metadata', 'xesam:title') == 'Episodio 1', what='the episode on the bus')
        wait_for(lambda: self.get('CanGoNext') == '(<true>,)', what='CanGoNext')
        self.assertEqual(self.bus('org.mpris.MediaPlayer2.Player.Next'), '()')
        wait_for(lambda: 'next' in self.types(), what='the page hearing next')
        wait_for(lambda: self.get('CanGoNext') == '(<false>,)', what='nothing more to go to')
        self.bus('org.mpris.MediaPlayer2.Player.Next')
        time.sleep(1.5)
        self.assertEqual(self.types().count('next'), 1)


if __name__ == '__main__':
    unittest.main()
