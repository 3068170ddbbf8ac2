"""Stops the wineserver of this test run's prefix, so nothing outlives the tests."""
import sys

import winerig

winerig.Wine(sys.argv[1] if len(sys.argv) > 1 else None).kill_server()
