#!/usr/bin/env python3
"""Writes a synthetic full catalogue (two-line and three-line text) and a matching
situation report, for benchmarks and manual runs.

Usage: gen_catalogue.py COUNT OUTDIR [--alpha5] [--highest=N]
Writes OUTDIR/catalog_2l.txt, OUTDIR/catalog_3l.txt and OUTDIR/ssr_bench.txt.
About 5 % of the objects carry harmless defects that the check repairs and about
0.2 % are rejects (wrong check character, impossible inclination). Of the others, the
first has a blank international designator and the second ephemeris type 4, as some
published element sets do.

Catalogue numbers are drawn from 1-99999. With --alpha5 they are drawn from 1-339999,
and those from 100000 on are written as a letter and four digits (A0000 = 100000,
I and O left out, Z9999 = 339999) in the catalogue and the report alike; up to 339999
objects then get numbers of their own. Without it the output is what it always was.
--highest=N draws the numbers from 1-N instead (at most the highest of the form), so
that a smaller catalogue fills its number range as densely as a full one: the index
and the name table grow with the highest number, not with the count.
"""
import math
import os
import random
import sys


def checksum(line):
    # Counting each digit in C is several times faster than a loop over the characters.
    total = line.count('-', 0, 68)
    for d in range(1, 10):
        total += d * line.count(str(d), 0, 68)
    return str(total % 10)


ALPHA5_LETTERS = 'ABCDEFGHJKLMNPQRSTUVWXYZ'
HIGHEST_NUMBER = 99999
HIGHEST_ALPHA5_NUMBER = 339999


def number_text(num, blank_padded=False):
    """Five columns: the digits (zero- or blank-padded), or from 100000 on the letter form."""
    if num >= 100000:
        return '%s%04d' % (ALPHA5_LETTERS[num // 10000 - 10], num % 10000)
    return ('%5d' if blank_padded else '%05d') % num


def number_value(text):
    """The number of a five-column field in either form; 0 when it is neither."""
    if len(text) == 5 and text[0] in ALPHA5_LETTERS and text[1:].isdigit():
        return (ALPHA5_LETTERS.index(text[0]) + 10) * 10000 + int(text[1:])
    try:
        return int(text)
    except ValueError:
        return 0


def exp_field(value):
    """Mantissa and exponent in the assumed-point form, e.g. -11606-4."""
    if value == 0:
        return ' 00000+0'
    sign = '-' if value < 0 else ' '
    e = math.floor(math.log10(abs(value))) + 1
    mant = int(round(abs(value) / 10 ** e * 1e5))
    if mant >= 100000:
        mant //= 10
        e += 1
    if e < -9:  # beyond the one exponent digit: as good as zero
        return ' 00000+0'
    return '%s%05d%s%d' % (sign, mant, '-' if e < 0 else '+', abs(e))


NAMES = ['COSMOS', 'STARLINK', 'IRIDIUM', 'NOAA', 'GOES', 'METEOR', 'SL-16 R/B', 'DEB', 'FENGYUN 1C DEB',
         'GPS BIIR', 'INTELSAT', 'ORBCOMM FM', 'GLOBALSTAR M', 'ONEWEB', 'CUBESAT', 'OBJECT']


def element_set(rng, num):
    year = rng.randint(57, 124) % 100
    launch = rng.randint(1, 300)
    piece = rng.choice(['A', 'B', 'C', 'D', 'AB', 'ACD', 'Z'])
    kind = rng.random()
    if kind < 0.08:    # geostationary
        mm, ecc, incl = 1.0027 + rng.uniform(-0.002, 0.002), rng.randint(0, 900), rng.uniform(0, 15)
    elif kind < 0.12:  # high eccentric
        mm, ecc, incl = rng.uniform(2.0, 2.01), rng.randint(600000, 750000), rng.uniform(62, 65)
    elif kind < 0.20:  # navigation
        mm, ecc, incl = rng.uniform(2.0, 2.2), rng.randint(0, 20000), rng.uniform(54, 66)
    else:              # low orbit
        mm, ecc, incl = rng.uniform(11.5, 16.4), rng.randint(0, 30000), rng.uniform(0, 105)
    ndot = rng.uniform(-0.0001, 0.001)
    nddot = 0.0 if rng.random() < 0.9 else rng.uniform(-1e-5, 1e-5)
    bstar = rng.uniform(-1e-3, 1e-3)
    l1 = '1 %sU %02d%03d%-3s %02d%012.8f %s.%08d %s %s 0 %4d' % (
        number_text(num), year, launch, piece, 24, rng.uniform(1, 366), '-' if ndot < 0 else ' ',
        int(abs(ndot) * 1e8), exp_field(nddot), exp_field(bstar), rng.randint(1, 999))
    l2 = '2 %s %8.4f %8.4f %07d %8.4f %8.4f %11.8f%5d' % (
        number_text(num), incl, rng.uniform(0, 359.9999), ecc, rng.uniform(0, 359.9999), rng.uniform(0, 359.9999),
        mm, rng.randint(0, 99999))
    assert len(l1) == 68 and len(l2) == 68, (l1, l2)
    l1 += checksum(l1)
    l2 += checksum(l2)
    return l1, l2, '%02d%03d%s' % (year, launch, piece)


def defect(rng, l1, l2):
    """Defects the check repairs without changing either checksum."""
    r = rng.random()
    if r < 0.2:
        return l1[:68] + ' ', l2
    if r < 0.4 and l1[2] == '0':
        stripped = l1[2:7].lstrip('0').rjust(5)
        return l1[:2] + stripped + l1[7:], l2[:2] + stripped + l2[7:]
    if r < 0.6 and l1[33] == ' ':
        return l1[:33] + '+' + l1[34:], l2
    if r < 0.8 and l1[44:52] == ' 00000+0':
        return l1[:44] + ' ' * 8 + l1[52:], l2
    return l1, l2[:68] + ' '


def blank_designator(l1):
    return l1[:9] + ' ' * 8 + l1[17:68] + checksum(l1[:9] + ' ' * 8 + l1[17:68])


def ephemeris_type_4(l1):
    return l1[:62] + '4' + l1[63:68] + checksum(l1[:62] + '4' + l1[63:68])


def generate(count, outdir, alpha5=False, variant=0, highest=None):
    """Variant 0 is the usual catalogue; any other gives other objects and element sets of
    the same size, for runs that must see the catalogue change."""
    rng = random.Random(20240407 + 1000003 * variant)
    os.makedirs(outdir, exist_ok=True)
    ceiling = HIGHEST_ALPHA5_NUMBER if alpha5 else HIGHEST_NUMBER
    highest = ceiling if highest is None else max(1, min(highest, ceiling))
    numbers = rng.sample(range(1, highest + 1), min(count, highest))
    while len(numbers) < count:
        numbers.append(rng.randint(1, highest))
    if 1 not in numbers:
        numbers[0] = 1
    numbers.sort()
    entries = []
    # Applied to sound objects only, and drawing nothing, so every other object stays as it was.
    specials = [blank_designator, ephemeris_type_4]
    with open(os.path.join(outdir, 'catalog_2l.txt'), 'w', newline='') as two, \
            open(os.path.join(outdir, 'catalog_3l.txt'), 'w', newline='') as three:
        two.write('# synthetic catalogue\n# %d objects\n' % count)
        for num in numbers:
            l1, l2, intl = element_set(rng, num)
            r = rng.random()
            if r < 0.05:
                l1, l2 = defect(rng, l1, l2)
            elif r < 0.052:
                if rng.random() < 0.5:
                    l1 = l1[:68] + str((int(l1[68]) + 1) % 10)
                else:
                    l2 = l2[:8] + '190.0000' + l2[16:68]
                    l2 += checksum(l2)
            elif specials:
                l1 = specials.pop(0)(l1)
            name = '%s %d' % (rng.choice(NAMES), rng.randint(1, 5000))
            two.write(l1 + '\n' + l2 + '\n')
            three.write(name + '\r\n' + l1 + '\r\n' + l2 + '\r\n')
            designator = '%s-%s' % ('19' + intl[:2] if int(intl[:2]) >= 57 else '20' + intl[:2], intl[2:])
            entries.append((num, designator, name))
    with open(os.path.join(outdir, 'ssr_bench.txt'), 'w', newline='') as ssr:
        ssr.write('Synthetic report\r\n\r\nSatellite Situation Report Objects in Orbit\r\n')
        ssr.write('INTLDES      CAT#  SOURCE  LAUNCH      PERIOD  INCL  APOGEE PERIGEE\r\n')
        ssr.write('                   COMMON NAME\r\n\r\n')
        for num, designator, name in sorted(entries, reverse=True):
            ssr.write('%-11s     %s  PAY  USA   2001-01-01   95.0  51.6    400    390\r\n'
                      % (designator, number_text(num, blank_padded=True)))
            ssr.write(name + '\r\n')


def main():
    args = [a for a in sys.argv[1:] if a != '--alpha5' and not a.startswith('--highest=')]
    highest = [int(a.split('=', 1)[1]) for a in sys.argv[1:] if a.startswith('--highest=')]
    if len(args) != 2:
        sys.exit('usage: gen_catalogue.py COUNT OUTDIR [--alpha5] [--highest=N]')
    generate(int(args[0]), args[1], alpha5='--alpha5' in sys.argv[1:], highest=highest[-1] if highest else None)


if __name__ == '__main__':
    main()
