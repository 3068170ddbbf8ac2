"""Creates the wine prefix of this test run (the fixture every end-to-end test needs)."""
import sys
import time

import winerig

start = time.time()
winerig.Wine(sys.argv[1] if len(sys.argv) > 1 else None).create()
print("prefix ready in %.1f s" % (time.time() - start))
