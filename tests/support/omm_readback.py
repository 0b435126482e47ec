#!/usr/bin/python3
"""Reads OMM twins with python-sgp4's own readers and compares every object with what
Satrec.twoline2rv makes of the same element set in the data set beside it.

Usage: omm_readback.py xml|csv|json DATASET TWIN [DATASET TWIN ...]
Prints "compared N objects" and exits 0 when every object agrees; otherwise prints
each difference (at most 20) and exits 1.
"""
import csv
import json
import sys
from math import pi

from sgp4 import omm
from sgp4.api import Satrec

RECORD = 168
MINUTES = (-1440.0, 0.0, 1440.0)
# The TLE's units of the mean motion's derivatives (revolutions per day, per day
# squared) in the radians per minute the satellite holds.
XPDOTP = 1440.0 / (2.0 * pi)
ELEMENTS = ('no_kozai', 'ecco', 'inclo', 'nodeo', 'argpo', 'mo', 'bstar', 'ndot')


def records(path):
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) % RECORD:
        raise SystemExit('%s: not whole 168-byte records' % path)
    for at in range(0, len(data), RECORD):
        r = data[at:at + RECORD]
        yield r[0:24].decode('latin-1').rstrip(' '), r[26:95].decode('ascii'), r[97:166].decode('ascii')


def twin_objects(kind, path):
    if kind == 'xml':
        return list(omm.parse_xml(path))
    with open(path, newline='', encoding='utf-8') as f:
        if kind == 'csv':
            return list(omm.parse_csv(f))
        return json.load(f)


def designator(line1):
    """OBJECT_ID as the columns give it, worked out here: 98067A -> 1998-067A, and
    UNKNOWN for blank columns."""
    field = line1[9:17].rstrip(' ')
    if not field:
        return 'UNKNOWN'
    yy = int(field[:2])
    return '%d-%s' % (1900 + yy if yy >= 57 else 2000 + yy, field[2:])


def close(a, b, relative):
    return abs(a - b) <= relative * max(abs(a), abs(b))


def compare(name, line1, line2, fields):
    """The differences between the element set and its twin's object, as texts."""
    found = []
    tle = Satrec.twoline2rv(line1, line2)
    sat = Satrec()
    omm.initialize(sat, fields)
    if sat.satnum != tle.satnum:
        found.append('catalogue number %r, element set %r' % (sat.satnum, tle.satnum))
    epoch_us = ((sat.jdsatepoch - tle.jdsatepoch) + (sat.jdsatepochF - tle.jdsatepochF)) * 86400e6
    if abs(epoch_us) > 1.0:
        found.append('epoch %s is %.3f us off' % (fields['EPOCH'], epoch_us))
    for element in ELEMENTS:
        a, b = getattr(sat, element), getattr(tle, element)
        if not close(a, b, 1e-12):
            found.append('%s %r, element set %r' % (element, a, b))
    # This reader's initialize() hands MEAN_MOTION_DDOT to the satellite without the unit
    # conversion it applies to MEAN_MOTION_DOT, so the field is checked by itself.
    nddot = float(fields['MEAN_MOTION_DDOT']) / (XPDOTP * 1440.0 * 1440.0)
    if not close(nddot, tle.nddot, 1e-12):
        found.append('MEAN_MOTION_DDOT %r, element set %r' % (fields['MEAN_MOTION_DDOT'], tle.nddot * XPDOTP * 1440 * 1440))
    theory = 'SGP4-XP' if line1[62] == '4' else 'SGP4'  # ephemeris type 4: the extended propagator's
    for what, a, b in (('name', fields['OBJECT_NAME'], name), ('designator', fields['OBJECT_ID'], designator(line1)),
                       ('theory', fields['MEAN_ELEMENT_THEORY'], theory),
                       ('classification', sat.classification, tle.classification),
                       ('ephemeris type', sat.ephtype, tle.ephtype), ('element set number', sat.elnum, tle.elnum),
                       ('revolution number', sat.revnum, tle.revnum)):
        if a != b:
            found.append('%s %r, element set %r' % (what, a, b))
    for minutes in MINUTES:
        e1, r1, _ = sat.sgp4_tsince(minutes)
        e2, r2, _ = tle.sgp4_tsince(minutes)
        if e1 != e2:
            found.append('at %+g min error %d, element set %d' % (minutes, e1, e2))
        elif e1 == 0 and max(abs(x - y) for x, y in zip(r1, r2)) > 1e-5:  # km: 1 cm
            found.append('at %+g min position %r, element set %r' % (minutes, r1, r2))
    return found


def main():
    kind, paths = sys.argv[1], sys.argv[2:]
    if kind not in ('xml', 'csv', 'json') or not paths or len(paths) % 2:
        raise SystemExit(__doc__)
    compared, failures = 0, []
    for dataset, twin in zip(paths[0::2], paths[1::2]):
        sets = list(records(dataset))
        objects = twin_objects(kind, twin)
        if len(objects) != len(sets):
            failures.append('%s: %d objects for %d element sets' % (twin, len(objects), len(sets)))
            continue
        for (name, line1, line2), fields in zip(sets, objects):
            for difference in compare(name, line1, line2, fields):
                failures.append('%s, %s: %s' % (twin, line1[2:7], difference))
            compared += 1
    for failure in failures[:20]:
        print(failure)
    print('compared %d objects' % compared)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
