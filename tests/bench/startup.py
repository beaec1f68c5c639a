"""Start-up benchmark (not part of the test suite; run by hand):

  cmake --build build --target bench
  BRINDLEMAR_BUILD_DIR=build tests/e2e/run-isolated.sh /usr/bin/python3 tests/bench/startup.py

Runs, alternating in one run under Xvfb, the built shell (its library service replaced
by the stand-in in standin/, which prints the readiness line at once), the minimal GTK 3
+ WebKitGTK window of minimal_webview.cpp, and `chromium --app` when installed, each
loading the same generated page. For each it prints the median and range of:
  - spawn -> page load event (ms; the page reports its load time to the stand-in)
  - CPU until load, and CPU in the 10 s after load (ms, all processes of the program)
  - sum of PSS of all processes of the program 5 s after load (MiB)
With compositing on and off (WEBKIT_DISABLE_COMPOSITING_MODE=1; chromium only once),
and the shell's CPU while its status page waits for a slow service. The stand-in
service itself is not counted for any program.

  STARTUP_RUNS=7 (runs per program and mode)   STARTUP_MODES=on,off
"""

import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))

from desktop import NODE, AppTree, Desktop, wait_for  # noqa: E402

BUILD = os.path.abspath(os.environ.get('BRINDLEMAR_BUILD_DIR', os.path.join(HERE, '..', '..', 'build')))
RUNS = int(os.environ.get('STARTUP_RUNS', '7'))
MODES = os.environ.get('STARTUP_MODES', 'on,off').split(',')
URL = 'http://127.0.0.1:47874/'
TICK = os.sysconf('SC_CLK_TCK')
ANCHORS = {
    'spawn -> load': 'goal: shell <= 1.05 x minimal',
    'CPU after load': 'goal: <= 2 x chromium on a software renderer',
    'PSS': 'goal: shell <= minimal + 15 MiB',
}


def descendants(root):
    children = {}
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            with open(f'/proc/{pid}/stat') as f:
                ppid = int(f.read().rsplit(')', 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(pid))
    found, queue = [], [root]
    while queue:
        pid = queue.pop()
        found.append(pid)
        queue.extend(children.get(pid, []))
    return found


def is_standin(pid):
    try:
        with open(f'/proc/{pid}/cmdline', 'rb') as f:
            return b'server.js' in f.read()
    except OSError:
        return False


def program_pids(root):
    return [p for p in descendants(root) if not is_standin(p)]


def cpu_ms(pids):
    """CPU time (user + system) per process, including its waited-for children."""
    out = {}
    for pid in pids:
        try:
            with open(f'/proc/{pid}/stat') as f:
                fields = f.read().rsplit(')', 1)[1].split()
            out[pid] = sum(int(x) for x in fields[11:15]) * 1000 / TICK
        except (OSError, IndexError, ValueError):
            pass
    return out


def pss_mib(pids):
    total = 0
    for pid in pids:
        try:
            with open(f'/proc/{pid}/smaps_rollup') as f:
                for line in f:
                    if line.startswith('Pss:'):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


class Standin:
    """The stand-in service, started by the benchmark for programs that do not start
    their own."""

    def __init__(self, env, delay_ms=0):
        env = dict(env, STANDIN_DELAY_MS=str(delay_ms))
        self.proc = subprocess.Popen([NODE, os.path.join(HERE, 'standin', 'server.js')], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.proc.stdout.readline()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def loads(report):
    if not os.path.exists(report):
        return []
    with open(report) as f:
        return [json.loads(line) for line in f if line.strip()]


def stop(proc):
    pids = descendants(proc.pid)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    time.sleep(0.5)


class Programs:
    def __init__(self, desktop):
        self.desktop = desktop
        self.tree = AppTree(desktop, backend=os.path.join(HERE, 'standin'))
        self.minimal = os.path.join(BUILD, 'bench', 'minimal_webview')
        if not os.path.exists(self.minimal):
            sys.exit(f'no {self.minimal}: build it with: cmake --build <build> --target bench')
        self.chromium = shutil.which('chromium')
        self.count = 0

    def names(self, mode):
        names = ['shell', 'minimal']
        if self.chromium and mode == 'on':
            names.append('chromium')
        return names

    def spawn(self, name, env):
        """Starts a program; returns the process and the stand-in it needs (or None)."""
        self.count += 1
        if name == 'shell':
            return subprocess.Popen([self.tree.binary], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL), None
        standin = Standin(env)
        if name == 'minimal':
            cmd = [self.minimal, URL]
        else:
            profile = tempfile.mkdtemp(dir=self.desktop.root, prefix='chromium-')
            cmd = [self.chromium, f'--app={URL}', f'--user-data-dir={profile}', '--no-first-run',
                   '--no-default-browser-check', '--no-sandbox', '--window-size=1280,800',
                   '--disable-background-networking', '--password-store=basic']
        return subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), standin


def measure(programs, name, env, report):
    before = len(loads(report))
    started = time.time()
    proc, standin = programs.spawn(name, env)
    try:
        wait_for(lambda: len(loads(report)) > before, timeout=60, interval=0.01, what=f'{name} to load')
        loaded = loads(report)[before]['t'] / 1000
        at_load = cpu_ms(program_pids(proc.pid))
        time.sleep(max(0, loaded + 5 - time.time()))
        pss = pss_mib(program_pids(proc.pid))
        time.sleep(max(0, loaded + 10 - time.time()))
        after = cpu_ms(program_pids(proc.pid))
        return {
            'spawn -> load': (loaded - started) * 1000,
            'CPU until load': sum(at_load.values()),
            'CPU after load': sum(v - at_load.get(pid, 0) for pid, v in after.items()),
            'PSS': pss,
        }
    finally:
        stop(proc)
        if standin:
            standin.stop()


def waiting_cpu(programs, env):
    """The shell's CPU (% of one core) over 5 s while its status page waits for a
    service that takes 20 s to listen."""
    proc = subprocess.Popen([programs.tree.binary], env=dict(env, STANDIN_DELAY_MS='20000'),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(4)
        first = cpu_ms(program_pids(proc.pid))
        time.sleep(5)
        second = cpu_ms(program_pids(proc.pid))
        return sum(v - first.get(pid, 0) for pid, v in second.items()) / 5000 * 100
    finally:
        stop(proc)


def summary(values, unit):
    return f'{statistics.median(values):8.0f} {unit}  ({min(values):.0f}-{max(values):.0f})'


def main():
    desktop = Desktop()
    try:
        programs = Programs(desktop)
        print(f'load average at start: {os.getloadavg()}')
        for mode in MODES:
            report = os.path.join(desktop.root, f'loads-{mode}.jsonl')
            env = dict(desktop.env, STANDIN_REPORT=report)
            env.pop('WEBKIT_DISABLE_COMPOSITING_MODE', None)
            if mode == 'off':
                env['WEBKIT_DISABLE_COMPOSITING_MODE'] = '1'
            results = {name: [] for name in programs.names(mode)}
            for _ in range(RUNS):
                for name in programs.names(mode):
                    results[name].append(measure(programs, name, env, report))
            waiting = [waiting_cpu(programs, env) for _ in range(3)]
            print(f'\ncompositing {mode} (n={RUNS}, median (range)); load average {os.getloadavg()}')
            for figure in ('spawn -> load', 'CPU until load', 'CPU after load', 'PSS'):
                unit = 'MiB' if figure == 'PSS' else 'ms'
                print(f'  {figure}   {ANCHORS.get(figure, "")}')
                for name, runs in results.items():
                    print(f'    {name:<9} {summary([r[figure] for r in runs], unit)}')
            shell = statistics.median(r['spawn -> load'] for r in results['shell'])
            minimal = statistics.median(r['spawn -> load'] for r in results['minimal'])
            print(f'  shell / minimal spawn -> load: {shell / minimal:.2f}')
            pss = (statistics.median(r['PSS'] for r in results['shell']) -
                   statistics.median(r['PSS'] for r in results['minimal']))
            print(f'  shell - minimal PSS: {pss:+.1f} MiB')
            if 'chromium' in results:
                ratio = (statistics.median(r['CPU after load'] for r in results['shell']) /
                         max(1, statistics.median(r['CPU after load'] for r in results['chromium'])))
                print(f'  shell / chromium CPU after load: {ratio:.1f}')
            print(f'  status page waiting: {statistics.median(waiting):.1f} % of a core '
                  f'(all: {[round(w, 1) for w in waiting]})   goal: <= 5 %')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
