"""Fault campaign against the real binary under Xvfb (not part of the test suite;
run by hand, it reports figures):

  BRINDLEMAR_BUILD_DIR=build tests/e2e/run-isolated.sh /usr/bin/python3 tests/bench/fault_campaign.py

1. The library service is SIGKILLed at random moments of its life: while it starts,
   around its readiness line, after readiness, and again after each retry (up to
   the five restarts of one shell, then a fresh shell). For each kill: does the
   shell live on, which status page does it show, is the port free again within a
   second; at the end of each shell, does it quit with status 0 and leave no
   service behind.
2. The shell is SIGKILLed at random moments from its start: is the service gone
   and the port free within a second.

SERVICE_KILLS (200) and SHELL_KILLS (50) set the counts; SEED the random moments.
"""

import os
import random
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))

from desktop import App, AppTree, Desktop, children_of, complaints, process_alive, wait_for  # noqa: E402

SERVICE_KILLS = int(os.environ.get('SERVICE_KILLS', '200'))
SHELL_KILLS = int(os.environ.get('SHELL_KILLS', '50'))
SEED = int(os.environ.get('SEED', '9'))
PORT = 47874
RESTARTS = 5

# What the shell may show after its service died (the defined status pages).
STATUS_PAGES = {
    'Preparando tu biblioteca\u2026',
    'El servicio local se cerró.',
    'No se pudo iniciar el servicio local. Vuelve a instalar Brindlemar.',
}
CLOSED = 'El servicio local se cerró.'


def port_free():
    """Whether a new service could listen on the port now (with SO_REUSEADDR, as
    Node.js listens: connections of the dead one in TIME_WAIT do not count)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(('127.0.0.1', PORT))
            s.listen()
            return True
        except OSError:
            return False


def listening():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        return s.connect_ex(('127.0.0.1', PORT)) == 0


def port_free_within(seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if port_free():
            return True
        time.sleep(0.02)
    return port_free()


def services(app, gone=()):
    return [pid for pid, comm in children_of(app.proc.pid).items()
            if comm in ('node', 'nodejs') and pid not in gone and process_alive(pid)]


def marked_services(desktop):
    """Service processes anywhere on the machine that belong to this campaign."""
    found = []
    needle = f'BRINDLEMAR_E2E_MARKER={desktop.marker}'.encode()
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            with open(f'/proc/{pid}/comm') as f:
                comm = f.read().strip()
            with open(f'/proc/{pid}/environ', 'rb') as f:
                env = f.read().split(b'\0')
        except OSError:
            continue
        if comm in ('node', 'nodejs') and needle in env and process_alive(int(pid)):
            found.append(int(pid))
    return found


def shown_status(desktop):
    texts = [t for _, t in desktop.page_texts()]
    for text in texts:
        if text in STATUS_PAGES:
            return text, 'Volver a intentarlo' in texts
    return ('library page' if 'Biblioteca de prueba' in texts else 'other: ' + ' | '.join(texts[:4])), False


def service_campaign(desktop, tree, rng, figures):
    kills = 0
    while kills < SERVICE_KILLS:
        app = App(desktop, tree, mode='ready')
        crashed = False
        killed = set()
        for restart in range(RESTARTS + 1):
            if kills >= SERVICE_KILLS:
                break
            try:
                pid = wait_for(lambda: (services(app, killed) or [None])[0], timeout=20, interval=0.005,
                               what='a service')
            except AssertionError:
                figures['no service started'] += 1
                break
            # From the moment the service exists: before, around and after its
            # readiness line (it prints it after roughly 0.1-0.4 s here).
            time.sleep(rng.uniform(0, 1.0))
            figures['killed while listening (around or after readiness)' if listening()
                    else 'killed before listening'] += 1
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            killed_at = time.monotonic()
            killed.add(pid)
            kills += 1
            wait_for(lambda: not process_alive(pid), timeout=5, what='the service to die')
            figures['port free within 1 s'] += port_free_within(1.0 - (time.monotonic() - killed_at))
            if app.proc.poll() is not None:
                crashed = True
                break
            try:
                shown = wait_for(lambda: (lambda s: s if s[0] == CLOSED else None)(shown_status(desktop)),
                                 timeout=15, interval=0.2, what='the exit message')
                figures['exit message with retry'] += shown[1]
            except AssertionError:
                shown = shown_status(desktop)
                figures['other page: ' + shown[0]] += 1
            figures['shell alive'] += app.proc.poll() is None
            if restart < RESTARTS:
                try:
                    desktop.press('Volver a intentarlo')
                except AssertionError:
                    figures['retry button missing'] += 1
                    break
        if app.proc.poll() is None:
            app.proc.send_signal(signal.SIGTERM)
            try:
                status = app.proc.wait(timeout=15)
            except Exception:
                status = 'hung'
        else:
            status = app.proc.returncode
        crashed = crashed or status != 0
        figures['shells'] += 1
        figures['crashes'] += crashed
        time.sleep(1.0)
        figures['orphaned services'] += len(marked_services(desktop))
        app.log.close()
        figures['shells that printed a complaint'] += bool(complaints(app.printed()))
        print(f'  service kills so far: {kills}', flush=True)
    return kills


def shell_campaign(desktop, tree, rng, figures):
    for n in range(SHELL_KILLS):
        app = App(desktop, tree, mode='ready')
        time.sleep(rng.uniform(0, 3.0))
        seen = services(app)
        app.proc.send_signal(signal.SIGKILL)
        killed_at = time.monotonic()
        app.proc.wait(timeout=10)
        app.log.close()
        deadline = killed_at + 1.0
        while time.monotonic() < deadline and any(process_alive(p) for p in marked_services(desktop)):
            time.sleep(0.02)
        figures['services gone within 1 s'] += not marked_services(desktop)
        figures['port free within 1 s'] += port_free_within(max(0.0, deadline - time.monotonic()))
        figures['had a service when killed'] += bool(seen)
        time.sleep(1.0)
        figures['orphaned services after 2 s'] += len(marked_services(desktop))
        for pid in marked_services(desktop):
            os.kill(pid, signal.SIGKILL)


def report(title, figures, total):
    print(f'\n{title} ({total})')
    for key in sorted(figures):
        print(f'  {key}: {figures[key]}')


class Counter(dict):
    def __missing__(self, key):
        return 0


def main():
    rng = random.Random(SEED)
    desktop = Desktop()
    try:
        tree = AppTree(desktop)
        started = time.monotonic()
        service = Counter()
        kills = service_campaign(desktop, tree, rng, service)
        report(f'Service killed at random moments, {time.monotonic() - started:.0f} s', service, kills)
        started = time.monotonic()
        shell = Counter()
        shell_campaign(desktop, tree, rng, shell)
        report(f'Shell SIGKILLed at random moments, {time.monotonic() - started:.0f} s', shell, SHELL_KILLS)
        print('\nAnchors: 0 crashes, 0 orphaned services, the port free within 1 s, every page '
              'shown a defined status page.')
    finally:
        desktop.close()


if __name__ == '__main__':
    main()
