"""Runs the end-to-end tests and prints one summary line: "e2e: N passed, N failed".

Every test runs once. A test that fails only sometimes is a failing test: its cause is found and
fixed, never hidden by running it again.
"""

import sys
import unittest

if __name__ == "__main__":
    names = sys.argv[1:]
    loader = unittest.TestLoader()
    suite = loader.loadTestsFromNames(names) if names else loader.discover(".", pattern="test_*.py")
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    failed = len(result.failures) + len(result.errors)
    print("e2e: %d passed, %d failed" % (result.testsRun - failed - len(result.skipped), failed))
    sys.exit(0 if result.wasSuccessful() else 1)
