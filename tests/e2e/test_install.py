"""The application as installed: the tree `cmake --install` lays out under a prefix
(staged in DESTDIR), its desktop files, that it starts from there and shows the
library page, and the Debian package made from the same build."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import types
import unittest

from desktop import BUILD, App, Desktop, wait_for

PREFIX = '/opt/brindlemar'
APP_ID = 'com.brindlemar.app'
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256, 512)
EXPECTED = ['bin/brindlemar', 'lib/brindlemar/libbrindlemar-page-bridge.so',
            'share/brindlemar/backend/server.js', 'share/brindlemar/node',
            f'share/applications/{APP_ID}.desktop', f'share/metainfo/{APP_ID}.metainfo.xml',
            f'share/icons/hicolor/scalable/apps/{APP_ID}.svg',
            'share/doc/brindlemar/copyright', 'share/doc/brindlemar/changelog.gz', 'share/man/man1/brindlemar.1.gz'] + \
           [f'share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png' for s in ICON_SIZES]


def desktop_entry(path):
    with open(path, encoding='utf-8') as f:
        return dict(line.rstrip('\n').split('=', 1) for line in f if '=' in line)


class InstalledTree(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stage = tempfile.mkdtemp(prefix='brindlemar-stage-')
        subprocess.run(['cmake', '--install', BUILD, '--prefix', PREFIX], check=True, capture_output=True,
                       env=dict(os.environ, DESTDIR=cls.stage))
        cls.root = cls.stage + PREFIX

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.stage, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def test_the_tree_has_every_file_and_valid_desktop_files(self):
        missing = [f for f in EXPECTED if not os.path.lexists(self.path(f))]
        self.assertEqual(missing, [])
        self.assertTrue(os.access(self.path('bin/brindlemar'), os.X_OK))
        self.assertTrue(os.access(os.path.realpath(self.path('share/brindlemar/node')), os.X_OK))
        for size in ICON_SIZES:
            out = subprocess.run(['identify', '-format', '%w %h', self.path(EXPECTED[-1].replace('512', str(size)))],
                                 check=True, capture_output=True, text=True).stdout
            self.assertEqual(out, f'{size} {size}')

        desktop = self.path(f'share/applications/{APP_ID}.desktop')
        subprocess.run(['desktop-file-validate', desktop], check=True, capture_output=True)
        result = subprocess.run(['appstreamcli', 'validate', '--no-net', '--no-color',
                                 self.path(f'share/metainfo/{APP_ID}.metainfo.xml')], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        entry = desktop_entry(desktop)
        self.assertEqual(entry['Icon'], APP_ID)
        self.assertEqual(entry['StartupWMClass'], APP_ID)
        self.assertEqual(entry['Categories'], 'AudioVideo;Video;Player;')
        self.assertEqual(entry['Exec'].split()[0], 'brindlemar')

    def test_the_installed_tree_starts_and_shows_the_library_page(self):
        desktop = Desktop()
        self.addCleanup(desktop.close)
        app = App(desktop, types.SimpleNamespace(binary=self.path('bin/brindlemar')))
        self.addCleanup(app.stop)
        wid = app.main_window()
        # The library service from the tree, with the clip it bundles.
        app.wait_page_text('Reproducir Ejemplo', timeout=60)
        # The window says which desktop entry it belongs to and carries the icon.
        wm_class = desktop.run('xprop', '-id', str(wid), 'WM_CLASS').stdout
        self.assertIn(f'"brindlemar", "{APP_ID}"', wm_class)
        icon = desktop.run('xprop', '-id', str(wid), '-notype', '_NET_WM_ICON').stdout
        self.assertRegex(icon, r'Icon \(16 x 16\)|_NET_WM_ICON =')


class DebianPackage(unittest.TestCase):
    def test_the_package_depends_on_what_playback_needs_and_holds_the_tree(self):
        subprocess.run(['cmake', '--build', BUILD, '--target', 'deb'], check=True, capture_output=True)
        debs = glob.glob(os.path.join(BUILD, 'brindlemar_*_*.deb'))
        self.assertEqual(len(debs), 1, debs)
        deb = debs[0]

        depends = subprocess.run(['dpkg-deb', '-f', deb, 'Depends'], check=True, capture_output=True,
                                 text=True).stdout
        names = {re.split(r'[ (]', d.strip())[0] for d in depends.split(',')}
        for package in ('nodejs',
                        # what the web view's own <video> plays with
                        'gstreamer1.0-plugins-good', 'gstreamer1.0-plugins-bad', 'gstreamer1.0-libav',
                        # found from the shared libraries the program links against; libmpv2 plays natively
                        'libgtk-3-0', 'libwebkit2gtk-4.1-0', 'libmpv2', 'libc6'):
            self.assertIn(package, names)

        listing = subprocess.run(['dpkg-deb', '-c', deb], check=True, capture_output=True, text=True).stdout
        files = {line.split()[5].removeprefix('./usr/') for line in listing.splitlines()}
        self.assertEqual([f for f in EXPECTED if f not in files], [])
        self.assertIn('share/brindlemar/node -> ../../bin/node', listing.replace('./usr/', ''))

        lintian = subprocess.run(['lintian', '--tag-display-limit', '0', deb], capture_output=True, text=True)
        errors = [line for line in lintian.stdout.splitlines() if line.startswith('E:')]
        self.assertEqual(errors, [])


if __name__ == '__main__':
    unittest.main()
