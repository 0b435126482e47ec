#!/usr/bin/env python3
"""Parses every object of a two-line catalogue text with sgp4's Satrec.twoline2rv;
prints the parse time alone in milliseconds."""
import sys
import time

from sgp4.api import Satrec

with open(sys.argv[1], 'r', newline='') as f:
    lines = [line.rstrip('\r\n') for line in f if not line.startswith('#')]
start = time.perf_counter()
parsed = 0
for i in range(0, len(lines) - 1, 2):
    try:
        Satrec.twoline2rv(lines[i], lines[i + 1])
        parsed += 1
    except Exception:
        pass
print('peer_ms=%.1f parsed=%d' % ((time.perf_counter() - start) * 1000, parsed))
