"""A throw-away desktop for end-to-end tests of the real binary: Xvfb, a session
D-Bus, the AT-SPI bus and (optionally) a window manager, in a temporary home. Every
process started here carries a marker in its environment, so that close() can end
all of them, the application's children included."""

import functools
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get('BRINDLEMAR_BUILD_DIR', os.path.join(HERE, '..', '..', 'build'))
FIXTURE_SERVICE = os.path.join(HERE, 'fixtures', 'service')
SYSTEM_PYTHON = '/usr/bin/python3'  # Debian's, where pyatspi and dbusmock live
NODE = shutil.which('node') or shutil.which('nodejs')
# The locale the program runs in (LANG and LC_ALL), e.g. es_ES.UTF-8; C.UTF-8 when unset.
TEST_LOCALE = os.environ.get('BRINDLEMAR_TEST_LOCALE') or 'C.UTF-8'


def unavailable(reason):
    """Fails a test that cannot run on this machine: the test command installs
    everything the tests need, so something missing is a fault, never a skip."""
    raise AssertionError(f'cannot run: {reason}')


def require_tool(name):
    """The path of the program `name`; ends the test through unavailable() when it is
    not installed."""
    path = shutil.which(name)
    if not path:
        unavailable(f'{name} is not installed (scripts/install-deps.sh --test installs it)')
    return path


@functools.lru_cache(maxsize=None)
def require_locale(name):
    """Fails unless the C library has locale `name`: a program started in a locale
    that is missing runs in C instead, and its test would prove nothing."""
    wanted = name.lower().replace('-', '')  # `locale -a` says es_ES.utf8
    have = subprocess.run(['locale', '-a'], check=True, capture_output=True, text=True).stdout.split()
    if wanted not in (h.lower().replace('-', '') for h in have):
        raise AssertionError(f'the locale {name} is missing (scripts/install-deps.sh --test makes '
                             'es_ES.UTF-8, the one the tests use)')


def wait_for(predicate, timeout=30.0, interval=0.1, what='condition'):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f'timed out after {timeout} s waiting for {what}')
        time.sleep(interval)


def process_alive(pid):
    try:
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith('State:'):
                    return 'Z' not in line.split(':', 1)[1]
    except OSError:
        return False
    return False


# What the shell must never print: a GLib, GTK, ATK or GStreamer critical or warning
# ("Gtk-CRITICAL **", "** (brindlemar:12): WARNING **"), or a sanitizer's report.
# WebKit's own processes write to the same log; what they say about the machine
# (a missing GL video sink, no sound card) is not the shell's.
COMPLAINT = re.compile(r'(?:\b[\w-]+-)?(?:CRITICAL|WARNING) \*\*|ERROR: (?:Address|Leak|Thread)Sanitizer'
                       r'|\bruntime error:|SUMMARY: UndefinedBehaviorSanitizer')
OTHER_PROCESS = re.compile(r'\(WebKit\w*Process:\d+\)')


def complaints(text):
    """The lines of `text` that tell of a critical, a warning or a sanitizer report
    from the shell."""
    return [line for line in text.splitlines() if COMPLAINT.search(line) and not OTHER_PROCESS.search(line)]


def children_of(pid):
    """Every process below `pid`, with its command name: {pid: comm}."""
    parents = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open(f'/proc/{entry}/stat') as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index('(') + 1:stat.rindex(')')]
        ppid = int(stat[stat.rindex(')') + 2:].split()[1])
        parents[int(entry)] = (ppid, comm)
    found, frontier = {}, [pid]
    while frontier:
        parent = frontier.pop()
        for child, (ppid, comm) in parents.items():
            if ppid == parent and child not in found:
                found[child] = comm
                frontier.append(child)
    return found


class Desktop:
    def __init__(self, window_manager=True, width=1600, height=1000):
        self.root = tempfile.mkdtemp(prefix='brindlemar-e2e-')
        self.marker = os.path.basename(self.root)
        home = os.path.join(self.root, 'home')
        runtime = os.path.join(self.root, 'runtime')
        for d in (home, runtime):
            os.makedirs(d, mode=0o700)
        # The caller's locale does not reach in: LANG below decides, or the App's own.
        env = {k: v for k, v in os.environ.items()
               if k not in ('DISPLAY', 'WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS', 'NO_AT_BRIDGE',
                            'XDG_SESSION_TYPE', 'XDG_CURRENT_DESKTOP', 'LANGUAGE')
               and not k.startswith('LC_')}
        env.update({
            'HOME': home,
            'XDG_DATA_HOME': os.path.join(home, '.local', 'share'),
            'XDG_CONFIG_HOME': os.path.join(home, '.config'),
            'XDG_CACHE_HOME': os.path.join(home, '.cache'),
            'XDG_RUNTIME_DIR': runtime,
            'BRINDLEMAR_E2E_MARKER': self.marker,
            'GDK_BACKEND': 'x11',
            'LANG': 'C.UTF-8',
        })
        self.env = env
        self.procs = []
        try:
            self._start_x(width, height)
            self._start_session_bus()
            self.procs.append(subprocess.Popen(
                ['/usr/libexec/at-spi-bus-launcher', '--launch-immediately', '--a11y=1'],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            if window_manager:
                self.procs.append(subprocess.Popen(['openbox'], env=self.env,
                                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(0.5)
        except Exception:
            self.close()
            raise

    def _start_x(self, width, height):
        read_end, write_end = os.pipe()
        self.procs.append(subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', f'{width}x{height}x24',
             '-nolisten', 'tcp', '-noreset'],
            env=self.env, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_end)
        number = b''
        while not number.endswith(b'\n'):
            chunk = os.read(read_end, 16)
            if not chunk:
                raise RuntimeError('Xvfb did not start')
            number += chunk
        os.close(read_end)
        self.env['DISPLAY'] = ':' + number.decode().strip()

    def _start_session_bus(self):
        bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                               env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.procs.append(bus)
        self.env['DBUS_SESSION_BUS_ADDRESS'] = bus.stdout.readline().decode().strip()
        bus.stdout.close()

    def run(self, *args, check=True, **kw):
        return subprocess.run(list(args), env=self.env, check=check, capture_output=True, text=True, **kw)

    # ---- session services ----
    def start_mock(self, template, parameters=None):
        """Starts a python3-dbusmock service from tests/e2e/mocks/<template>.py (with
        the template's parameters, when given) and waits until its name is on the bus."""
        module = os.path.join(HERE, 'mocks', template + '.py')
        with open(module) as f:
            name = next(line.split("'")[1] for line in f if line.startswith('BUS_NAME'))
        extra = ['--parameters', json.dumps(parameters)] if parameters else []
        proc = subprocess.Popen([SYSTEM_PYTHON, '-m', 'dbusmock', '--session', '--template', module, *extra],
                                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        wait_for(lambda: self.run('gdbus', 'call', '--session', '--dest', 'org.freedesktop.DBus',
                                  '--object-path', '/org/freedesktop/DBus', '--method',
                                  'org.freedesktop.DBus.NameHasOwner', name, check=False).stdout.startswith('(true'),
                 timeout=15, what=f'{name} on the session bus')

    def install_recording_browser(self):
        """Makes a handler that only records the addresses it is given the default
        for http and https; returns the file it records into."""
        log = os.path.join(self.root, 'browser.log')
        apps = os.path.join(self.env['XDG_DATA_HOME'], 'applications')
        os.makedirs(apps, exist_ok=True)
        os.makedirs(self.env['XDG_CONFIG_HOME'], exist_ok=True)
        recorder = os.path.join(self.root, 'record-url')
        with open(recorder, 'w') as f:
            f.write(f'#!/bin/sh\necho "$1" >> {log}\n')
        os.chmod(recorder, 0o755)
        with open(os.path.join(apps, 'grabador.desktop'), 'w') as f:
            f.write('[Desktop Entry]\nType=Application\nName=Grabador\n'
                    f'Exec={recorder} %u\n'
                    'MimeType=x-scheme-handler/http;x-scheme-handler/https;\n')
        with open(os.path.join(self.env['XDG_CONFIG_HOME'], 'mimeapps.list'), 'w') as f:
            f.write('[Default Applications]\nx-scheme-handler/http=grabador.desktop\n'
                    'x-scheme-handler/https=grabador.desktop\n')
        open(log, 'w').close()
        return log

    def click(self, wid, x, y):
        """A real pointer click at (x, y) inside window `wid`."""
        self.run('xdotool', 'mousemove', '--window', str(wid), str(x), str(y))
        self.run('xdotool', 'click', '1')

    def mock_calls(self, name, path):
        out = self.run(SYSTEM_PYTHON, os.path.join(HERE, 'mocks', 'calls.py'), name, path)
        return json.loads(out.stdout)

    # ---- windows and keys ----
    def windows(self, name_regex='.'):
        out = self.run('xdotool', 'search', '--onlyvisible', '--name', name_regex, check=False).stdout
        return [int(w) for w in out.split()]

    def window_title(self, wid):
        out = self.run('xprop', '-id', str(wid), '_NET_WM_NAME', check=False).stdout
        if '=' not in out:
            out = self.run('xprop', '-id', str(wid), 'WM_NAME', check=False).stdout
        return json.loads(out.split('=', 1)[1].strip()) if '=' in out else None

    def key(self, *keys):
        self.run('xdotool', 'key', '--clearmodifiers', *keys)

    def close_with_alt_f4(self, wid, name_regex, timeout=15):
        """The window manager's close of window `wid` (found by `name_regex`). Under load
        a synthesized Alt+F4 now and then never becomes the window manager's close: the
        shell then sits idle, its window still active and focused, with nothing to
        close, and a second Alt+F4 closes it at once. So the key is sent again while the
        window stays."""
        def closed():
            if wid in self.windows(name_regex):
                try:
                    self.run('xdotool', 'windowactivate', '--sync', str(wid), check=False, timeout=5)
                except subprocess.TimeoutExpired:
                    pass  # closing meanwhile
                self.key('alt+F4')
            try:
                wait_for(lambda: wid not in self.windows(name_regex), timeout=5)
                return True
            except AssertionError:
                return False
        wait_for(closed, timeout=timeout, interval=0, what=f'the window {wid} to close after Alt+F4')

    def screenshot(self, path, window='root'):
        # import waits for ever on a window whose client has gone: bound it, so a
        # shell that died fails the test at once instead of at the suite's time-out.
        self.run('import', '-window', str(window), path, timeout=30)

    # ---- accessibility ----
    def accessible(self, *args):
        out = self.run(SYSTEM_PYTHON, os.path.join(HERE, 'atspi_tool.py'), *args, check=False, timeout=60)
        if out.returncode != 0:
            raise AssertionError(f'atspi_tool {args} failed: {out.stderr.strip()}')
        return json.loads(out.stdout)

    def page_texts(self, app='brindlemar'):
        """Texts of the web page as a screen reader reads them: [(role, text), ...]."""
        return [(node['role'], node['text'] or node['name'])
                for node in self.accessible('dump', app) if node['in_document']]

    def press(self, button_name, app='brindlemar'):
        self.accessible('press', app, button_name)

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
        for proc in self.procs:
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
        kill_marked(self.marker)
        shutil.rmtree(self.root, ignore_errors=True)


def kill_marked(marker):
    """Ends every process whose environment carries the desktop's marker."""
    needle = f'BRINDLEMAR_E2E_MARKER={marker}'.encode()
    for _ in range(2):
        found = False
        for pid in os.listdir('/proc'):
            if not pid.isdigit() or int(pid) == os.getpid():
                continue
            try:
                with open(f'/proc/{pid}/environ', 'rb') as f:
                    if needle in f.read().split(b'\0'):
                        os.kill(int(pid), signal.SIGKILL)
                        found = True
            except OSError:
                pass
        if not found:
            return
        time.sleep(0.2)


class AppTree:
    """A copy of the built bin/ and lib/ beside a share/brindlemar/ of the test's
    own, so the real binary runs against a fixture service."""

    def __init__(self, desktop, backend=FIXTURE_SERVICE, with_node=True, with_share=True):
        self.root = os.path.join(desktop.root, 'tree')
        shutil.copytree(os.path.join(BUILD, 'bin'), os.path.join(self.root, 'bin'))
        shutil.copytree(os.path.join(BUILD, 'lib'), os.path.join(self.root, 'lib'))
        share = os.path.join(self.root, 'share', 'brindlemar')
        if with_share:
            shutil.copytree(backend, os.path.join(share, 'backend'))
            if with_node:
                os.symlink(NODE, os.path.join(share, 'node'))
        self.binary = os.path.join(self.root, 'bin', 'brindlemar')


class App:
    """The real binary, started in a desktop, with a fixture service that reports
    into `reports`."""

    def __init__(self, desktop, tree, mode='ready', extra_env=None, pages=None, tolerate=()):
        self.desktop = desktop
        # Lines that a particular desktop makes the toolkit print, whatever the shell
        # does (substrings of the complaint).
        self.tolerate = tolerate
        self.tree = tree
        self.reports = os.path.join(desktop.root, 'reports')
        os.makedirs(self.reports, exist_ok=True)
        env = dict(desktop.env)
        require_locale(TEST_LOCALE)
        env.update({'LANG': TEST_LOCALE, 'LC_ALL': TEST_LOCALE})
        env.update({'FIXTURE_REPORT_DIR': self.reports, 'FIXTURE_MODE': mode})
        if pages:
            env['FIXTURE_PAGES_DIR'] = pages
        env.update(extra_env or {})
        self.env = env
        self.log_path = os.path.join(desktop.root, 'app.log')
        self.log = open(self.log_path, 'ab')
        self.proc = subprocess.Popen([tree.binary], env=env, stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)

    def launch_again(self):
        return subprocess.run([self.tree.binary], env=self.env, stdout=self.log, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=30)

    def main_window(self):
        return wait_for(lambda: self.desktop.windows('^Brindlemar$'), what='the main window')[0]

    # ---- what the fixture service reported ----
    def _reports(self, kind):
        return sorted(f for f in os.listdir(self.reports) if f.startswith(kind + '-'))

    def service_pids(self):
        return [int(f.split('-')[1]) for f in self._reports('start')]

    def service_start(self, pid):
        with open(os.path.join(self.reports, f'start-{pid}')) as f:
            return json.load(f)

    def service_env(self, pid):
        with open(os.path.join(self.reports, f'env-{pid}')) as f:
            return json.load(f)

    def got_sigterm(self, pid):
        return os.path.exists(os.path.join(self.reports, f'sigterm-{pid}'))

    def run_in_page(self, script, timeout=20):
        """Queues a script for the fixture page (pages that load harness.js) and
        returns what it evaluated to."""
        self.commands = getattr(self, 'commands', 0) + 1
        command = f'/*{self.commands}*/ ' + script.replace('\n', ' ')
        with open(os.path.join(self.reports, 'commands.txt'), 'a') as f:
            f.write(command + '\n')
        ran = self.wait_report(lambda r: r.get('event') == 'ran' and r.get('command') == command,
                               timeout=timeout, what=f'the page to run {script!r}')
        return ran[-1]['result']

    def wait_report(self, predicate, timeout=20, what='a page report'):
        return wait_for(lambda: [r for r in self.page_reports() if predicate(r)], timeout=timeout, what=what)

    def release_readiness(self):
        open(os.path.join(self.reports, 'go'), 'w').close()

    def page_reports(self):
        path = os.path.join(self.reports, 'reports.jsonl')
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def wait_page_text(self, text, timeout=30):
        return wait_for(lambda: any(text == t for _, t in self.desktop.page_texts()),
                        timeout=timeout, interval=0.3, what=f'page text {text!r}')

    def web_process(self):
        """The pid of the web content process that shows the main web view."""
        def find():
            pids = [pid for pid, comm in children_of(self.proc.pid).items()
                    if comm.startswith('WebKitWebProces') and process_alive(pid)]
            return pids[0] if len(pids) == 1 else None
        return wait_for(find, what='one web content process')

    def printed(self):
        with open(self.log_path, errors='replace') as f:
            return f.read()

    def stop(self):
        """Ends the shell (when still running) and fails when it printed a critical,
        a warning or a sanitizer report at any time in its life."""
        died = self.proc.poll()
        if died is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.log.close()
        if died is not None and died < 0 and died != -signal.SIGKILL:  # SIGKILL is a test's own
            raise AssertionError(f'the shell died of signal {-died}')
        printed = self.printed()
        found = [line for line in complaints(printed) if not any(t in line for t in self.tolerate)]
        if found:
            # The whole report (a sanitizer's stacks) is what tells where it came from.
            raise AssertionError('the shell printed:\n' + '\n'.join(found[:40]) +
                                 '\n---- its output ----\n' + printed[-60000:])
