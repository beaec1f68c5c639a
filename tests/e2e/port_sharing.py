"""Every end-to-end file starts a service on the fixed port 47874, so no two of them
may ever run in the same network namespace at the same time. run-isolated.sh leaves
one record per run in $BRINDLEMAR_PORT_LOG (namespace, start, end, command); after the
end-to-end files have run, this checks those records."""

import glob
import os
import unittest

from desktop import unavailable


def read_runs(directory):
    runs = []
    for path in sorted(glob.glob(os.path.join(directory, 'runs-*.txt'))):
        with open(path) as f:
            for line in f:
                namespace, start, end, command = line.rstrip('\n').split(' ', 3)
                runs.append((namespace, float(start), float(end), command))
    return runs


def shared_at_once(runs):
    """The pairs of runs that were in one namespace at overlapping times."""
    found = []
    for i, (ns_a, start_a, end_a, cmd_a) in enumerate(runs):
        for ns_b, start_b, end_b, cmd_b in runs[i + 1:]:
            if ns_a == ns_b and start_a < end_b and start_b < end_a:
                found.append((cmd_a, cmd_b))
    return found


class PortSharing(unittest.TestCase):
    def test_overlap_rule(self):
        a = ('net:[1]', 10.0, 20.0, 'a')
        cases = [
            ('same namespace, overlapping', [a, ('net:[1]', 15.0, 25.0, 'b')], [('a', 'b')]),
            ('same namespace, one inside the other', [a, ('net:[1]', 12.0, 13.0, 'b')], [('a', 'b')]),
            ('same namespace, one after the other', [a, ('net:[1]', 20.0, 30.0, 'b')], []),
            ('own namespaces, at the same time', [a, ('net:[2]', 10.0, 20.0, 'b')], []),
        ]
        for name, runs, expected in cases:
            with self.subTest(name):
                self.assertEqual(shared_at_once(runs), expected)

    def test_no_two_files_shared_the_port_at_once(self):
        directory = os.environ.get('BRINDLEMAR_PORT_LOG')
        if not directory:
            unavailable('BRINDLEMAR_PORT_LOG is not set (run through ctest)')
        runs = read_runs(directory)
        self.assertTrue(runs, f'no end-to-end run left a record in {directory}')
        self.assertEqual(shared_at_once(runs), [])


if __name__ == '__main__':
    unittest.main()
