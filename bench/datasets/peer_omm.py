#!/usr/bin/env python3
"""The OMM twin of a data set as python-sgp4 makes it: every element set through
Satrec.twoline2rv and sgp4.exporter.export_omm, then written with the standard library's
csv, json or xml.etree writers. Prints the time of that job in milliseconds.

Usage: peer_omm.py xml|csv|json DATASET OUT
"""
import csv
import json
import sys
import time
import xml.etree.ElementTree as ET

from sgp4.api import Satrec
from sgp4.exporter import export_omm

GROUPS = (('metadata', ('OBJECT_NAME', 'OBJECT_ID', 'CENTER_NAME', 'REF_FRAME', 'TIME_SYSTEM',
                        'MEAN_ELEMENT_THEORY')),
          ('meanElements', ('EPOCH', 'MEAN_MOTION', 'ECCENTRICITY', 'INCLINATION', 'RA_OF_ASC_NODE',
                            'ARG_OF_PERICENTER', 'MEAN_ANOMALY')),
          ('tleParameters', ('EPHEMERIS_TYPE', 'CLASSIFICATION_TYPE', 'NORAD_CAT_ID', 'ELEMENT_SET_NO',
                             'REV_AT_EPOCH', 'BSTAR', 'MEAN_MOTION_DOT', 'MEAN_MOTION_DDOT')))
FIELDS = [key for _, keys in GROUPS for key in keys]


def objects(path):
    with open(path, 'rb') as f:
        data = f.read()
    for at in range(0, len(data) - 167, 168):
        r = data[at:at + 168]
        sat = Satrec.twoline2rv(r[26:95].decode('ascii'), r[97:166].decode('ascii'))
        if not sat.intldesg.strip():
            sat.intldesg = '00000A'  # its exporter cannot read a blank designator
        yield export_omm(sat, r[0:24].decode('latin-1').rstrip(' '))


def write_xml(path, items):
    root = ET.Element('ndm')
    for fields in items:
        message = ET.SubElement(root, 'omm', id='CCSDS_OMM_VERS', version='2.0')
        header = ET.SubElement(message, 'header')
        ET.SubElement(header, 'CREATION_DATE')
        ET.SubElement(header, 'ORIGINATOR').text = 'python-sgp4'
        segment = ET.SubElement(ET.SubElement(message, 'body'), 'segment')
        data = None
        for group, keys in GROUPS:
            parent = segment if group == 'metadata' else data
            element = ET.SubElement(parent, group)
            if group == 'metadata':
                data = ET.SubElement(segment, 'data')
            for key in keys:
                ET.SubElement(element, key).text = str(fields[key])
    ET.ElementTree(root).write(path, encoding='utf-8', xml_declaration=True)


def main():
    kind, dataset, out = sys.argv[1:4]
    start = time.perf_counter()
    if kind == 'xml':
        write_xml(out, objects(dataset))
    elif kind == 'csv':
        with open(out, 'w', newline='', encoding='utf-8') as f:
            writer = csv.DictWriter(f, FIELDS)
            writer.writeheader()
            writer.writerows(objects(dataset))
    else:
        with open(out, 'w', encoding='utf-8') as f:
            json.dump(list(objects(dataset)), f)
    print('peer_ms=%.1f' % ((time.perf_counter() - start) * 1000))


if __name__ == '__main__':
    main()
