"""Runs a test file's cases in a rig, against one exe of the release:

    python3 test_x.py --build BUILD/x86_64 --rig RIG --exe EXE --tools TREE [unittest args]

Every case starts from no Halvory running, and every process it started is ended by its id when it ends."""
import argparse
import os
import signal
import sys
import unittest

import rig as rigs
import timeline

RIG = None


def step_too_late(what):
    """A case whose own step came too late to judge what it judges fails as its error, never the program's failure."""
    raise RuntimeError('the step came too late: ' + what)


class Case(unittest.TestCase):
    """A case in the rig. self.timeline is its clock (with a recording of the sound sink when record is True)."""
    record = False

    def setUp(self):
        self.rig = RIG
        self.rig.close_leftovers()
        self.timeline = timeline.Timeline(self.rig, record=self.record)
        self.addCleanup(self.rig.end_all)
        self.addCleanup(self.timeline.stop)
        # Its own Halvory asked to close first (a killed one leaves its icon); one that will not is ended by its id,
        # and fails the next case only if it outlives that.
        self.addCleanup(self.rig.close_leftovers, fail=False)

    def folder(self):
        """A folder of the case's own."""
        path = os.path.join(self.rig.tmp, self.id().split('.')[-1][5:40])
        os.makedirs(path, exist_ok=True)
        return path


def main():
    """Runs the calling module's cases inside the rig."""
    global RIG
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--build', required=True)    # the x86_64 tree: the driver
    parser.add_argument('--rig', required=True)
    parser.add_argument('--exe')      # the program under test; the tree's own by default
    parser.add_argument('--tools')    # the tree whose test tools match the exe's architecture
    args, rest = parser.parse_known_args()
    RIG = rigs.Rig(args.build, args.rig, args.exe, args.tools)
    built = os.path.join(RIG.tools, 'halvory.exe')
    if os.path.exists(built) and os.path.getmtime(built) > os.path.getmtime(RIG.exe):
        sys.exit('%s is older than %s: stage the release again (make release)' % (RIG.exe, built))
    print('testing %s (%s)' % (RIG.exe, RIG.arch), file=sys.stderr, flush=True)

    def on_signal(signum, frame):
        RIG.end_all()
        sys.exit(1)
    signal.signal(signal.SIGTERM, on_signal)
    try:
        unittest.main(module='__main__', argv=[sys.argv[0]] + rest, verbosity=2)
    finally:
        RIG.end_all()
