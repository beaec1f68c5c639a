"""Output flood benchmark (not part of the test suite; run by hand):

  BRINDLEMAR_BUILD_DIR=build tests/e2e/run-isolated.sh /usr/bin/python3 tests/bench/output_flood.py

A library service that, once ready, writes 1 GiB of 128-byte lines into its output;
the shell keeps only the last 4096 characters of it. Alternating in one run, the
same writer drains into the shell and into `cat` (to /dev/null); prints the drain
rates, and the shell's resident memory before and after the flood.

  FLOOD_BYTES=1073741824   FLOOD_RUNS=3
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))

from desktop import AppTree, Desktop, wait_for  # noqa: E402

SIZE = int(os.environ.get('FLOOD_BYTES', str(1 << 30)))
RUNS = int(os.environ.get('FLOOD_RUNS', '3'))
WRITER = [sys.executable, os.path.join(HERE, 'flood_writer.py')]


def rss_kib(pid):
    with open(f'/proc/{pid}/status') as f:
        return int(re.search(r'VmRSS:\s+(\d+)', f.read()).group(1))


def timings(report):
    if not os.path.exists(report):
        return []
    with open(report) as f:
        return [tuple(map(float, line.split())) for line in f if line.strip()]


def through_shell(desktop, tree, report):
    """Starts the shell with a flooding service; returns MiB/s and RSS (KiB) before
    and after."""
    before_runs = len(timings(report))
    go = os.path.join(desktop.root, f'go-{before_runs}')
    loads = os.path.join(desktop.root, f'loads-{before_runs}.jsonl')
    env = dict(desktop.env, STANDIN_FLOOD=json.dumps(WRITER + [str(SIZE), report, go]),
               STANDIN_REPORT=loads)
    proc = subprocess.Popen([tree.binary], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The flood starts once the library page has loaded and settled.
        wait_for(lambda: os.path.exists(loads), timeout=60, what='the library page')
        time.sleep(2)
        rss_before = rss_kib(proc.pid)
        open(go, 'w').close()
        wait_for(lambda: len(timings(report)) > before_runs, timeout=600, interval=0.05, what='the flood')
        start, end = timings(report)[before_runs]
        rss_after = rss_kib(proc.pid)
        return SIZE / (1 << 20) / (end - start), rss_before, rss_after
    finally:
        proc.terminate()
        proc.wait()


def through_cat(report):
    before_runs = len(timings(report))
    writer = subprocess.Popen(WRITER + [str(SIZE), report], stdout=subprocess.PIPE)
    subprocess.run(['cat'], stdin=writer.stdout, stdout=subprocess.DEVNULL, check=True)
    writer.stdout.close()
    writer.wait()
    start, end = timings(report)[before_runs]
    return SIZE / (1 << 20) / (end - start)


def main():
    desktop = Desktop()
    try:
        tree = AppTree(desktop, backend=os.path.join(HERE, 'standin'))
        report = os.path.join(desktop.root, 'flood.txt')
        print(f'load average at start: {os.getloadavg()}')
        shell, cat, growth = [], [], []
        for _ in range(RUNS):
            rate, before, after = through_shell(desktop, tree, report)
            shell.append(rate)
            growth.append(after - before)
            cat.append(through_cat(report))
        print(f'drain of {SIZE / (1 << 20):.0f} MiB of 128-byte lines, median of {RUNS} '
              f'(load average {os.getloadavg()}):')
        print(f'  shell  {statistics.median(shell):7.0f} MiB/s   (all: {[round(r) for r in shell]})')
        print(f'  cat    {statistics.median(cat):7.0f} MiB/s   (all: {[round(r) for r in cat]})')
        print(f'  shell / cat: {statistics.median(shell) / statistics.median(cat):.2f}   goal: >= 0.5')
        print(f'  shell RSS growth during the flood (KiB): {growth}   goal: none')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
