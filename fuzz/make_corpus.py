#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets and the base stream of the
segments target from crops of the bundled images, encoded by wsq1, and
transactions holding them.

    fuzz/make_corpus.py build/wsq1

Run from anywhere; rewrites fuzz/corpus/*/ and fuzz/segments_base.inc. The
inputs named found-* are kept: minimised finds of long fuzzer runs that reach
paths no seed reaches.
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, '..', 'tests', 'data')
SIZES = {'sd04_f0001_01': (512, 512), 'fvc02db1_102_1': (388, 374),
         'mcc_sample_1_1': (256, 364), 'fvc04db3_101_1_crop299x479': (299, 479)}


def crop(name, x, y, w, h):
    width = SIZES[name][0]
    with open(os.path.join(DATA, name + '.raw'), 'rb') as f:
        pixels = f.read()
    return b''.join(pixels[(y + r) * width + x:(y + r) * width + x + w] for r in range(h))


def encode(wsq1, images, rate, options=()):
    """One stream per (pixels, w, h), back to back."""
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for i, (pixels, w, h) in enumerate(images):
            names.append(os.path.join(tmp, '%d.raw' % i))
            with open(names[-1], 'wb') as f:
                f.write(pixels)
        w, h = images[0][1], images[0][2]
        out = os.path.join(tmp, 'out')
        subprocess.run([wsq1, '-r%d,%d' % (w, h), '-Z' + rate, '-o' + out, *options, *names],
                       check=True, stderr=subprocess.DEVNULL)
        with open(out + '.wsq', 'rb') as f:
            return f.read()


def segments(stream):
    """(marker, start, body start, end) of each segment of one stream; the
    end of a block's entry is the end of its coded data."""
    out, at = [], 2
    while stream[at + 1] != 0xA1:
        marker, body = stream[at + 1], at + 4
        end = at + 2 + (stream[at + 2] << 8 | stream[at + 3])
        if marker == 0xA3:
            while not (stream[end] == 0xFF and stream[end + 1] != 0):
                end += 2 if stream[end] == 0xFF else 1
        out.append((marker, at, body, end))
        at = end
    return out


def unstuffed(coded):
    return coded.replace(b'\xff\x00', b'\xff')


# Counts and values of a full code tree of 257 codes: 255 of 8 bits, 2 of 9.
all_codes = bytes(7) + b'\xff\x02' + bytes(7) + bytes(range(256)) + b'\0'


def dht_segment(body):
    return b'\xff\xa6' + (len(body) + 2).to_bytes(2, 'big') + body


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), 'wb') as f:
        f.write(data)


def main():
    wsq1 = os.path.abspath(sys.argv[1])
    corpus = os.path.join(HERE, 'corpus')
    for directory, _, names in os.walk(corpus):
        for name in names:
            if not name.startswith('found-'):
                os.remove(os.path.join(directory, name))

    # decode: streams of several sizes and bit rates, odd ones included.
    decode = os.path.join(corpus, 'decode')
    base = encode(wsq1, [(crop('sd04_f0001_01', 200, 150, 99, 121), 99, 121)], '0.75')
    streams = {
        'sd04-99x121-0.75.wsq': base,
        'sd04-81x81-0.75.wsq': encode(wsq1, [(crop('sd04_f0001_01', 220, 220, 81, 81), 81, 81)],
                                      '0.75'),
        'fvc02-128x96-0.3.wsq': encode(wsq1, [(crop('fvc02db1_102_1', 130, 140, 128, 96), 128, 96)],
                                       '0.3'),
        'mcc-49x145-1.5.wsq': encode(wsq1, [(crop('mcc_sample_1_1', 100, 100, 49, 145), 49, 145)],
                                     '1.5'),
        'fvc04-161x200-3.wsq': encode(wsq1, [(crop('fvc04db3_101_1_crop299x479', 60, 140, 161,
                                                   200), 161, 200)], '3'),
        'sd04-255x257-comment.wsq': encode(wsq1, [(crop('sd04_f0001_01', 120, 100, 255, 257),
                                                   255, 257)], '0.75', ['-cseed\nstream']),
        'two-streams-81x81.wsq': encode(wsq1, [(crop('sd04_f0001_01', 100, 300, 81, 81), 81, 81),
                                              (crop('fvc02db1_102_1', 150, 150, 81, 81), 81, 81)],
                                        '1'),
    }
    with open(os.path.join(DATA, 'wsq-original.wsq'), 'rb') as f:
        streams['wsq-original.wsq'] = f.read()
    # Blocks in restart intervals, a repeated transform table, an empty block.
    for name in ['restart-intervals', 'repeated-dtt', 'empty-blocks']:
        with open(os.path.join(DATA, 'hostile', 'valid', name + '.wsq'), 'rb') as f:
            streams[name + '.wsq'] = f.read()
    parts = segments(base)
    sof = next(p for p in parts if p[0] == 0xA2)
    dht = next(p for p in parts if p[0] == 0xA6)
    sobs = [p for p in parts if p[0] == 0xA3]
    broken = {
        'broken-cut-in-block-1.wsq': base[:(sobs[1][2] + 1 + sobs[1][3]) // 2],
        'broken-trailing.wsq': base + b'trailing',
        'broken-width-0.wsq': base[:sof[2] + 4] + b'\0\0' + base[sof[2] + 6:],
        'broken-overfull-dht.wsq': base[:dht[2] + 1] + b'\3' + base[dht[2] + 2:],
        'broken-sob-table-5.wsq': base[:sobs[0][2]] + b'\5' + base[sobs[0][2] + 1:],
        'broken-restart-in-block-0.wsq': base[:sobs[0][2] + 4] + b'\xff\xb0' + base[sobs[0][2] + 4:],
        # Findings of the long runs, kept as seeds: a table of 257 values (one
        # more than its room), and a restart marker cutting a codeword.
        'broken-dht-257-values.wsq': dht_segment(base[dht[2]:dht[3]] + b'\2' + all_codes)
                                     .join((base[:dht[1]], base[dht[3]:])),
        'broken-restart-in-codeword.wsq': base[:sobs[0][2] + 16] + b'\xff\xb0' + base[sobs[0][2] + 16:],
    }
    for name, data in {**streams, **broken}.items():
        write(decode, name, data)

    # segments: a selector byte, then the part of the base stream it replaces.
    seg = os.path.join(corpus, 'segments')
    names = {0xA4: (0, 'dtt'), 0xA5: (1, 'dqt'), 0xA6: (2, 'dht'), 0xA2: (3, 'sof')}
    for marker, start, body, end in parts:
        if marker in names:
            selector, name = names[marker]
            write(seg, 'base-' + name, bytes([selector]) + base[body:end])
    for b, (_, _, body, end) in enumerate(sobs):
        coded = base[body + 1:end]
        write(seg, 'base-block-%d' % b, bytes([4 + b]) + unstuffed(coded))
        write(seg, 'base-block-%d-stored' % b, bytes([7, b]) + coded)
    other = streams['wsq-original.wsq']
    tables = b''
    for marker, start, body, end in segments(other):
        if marker in names and marker != 0xA2:
            selector, name = names[marker]
            if marker == 0xA6:
                tables += other[body:end]
            else:
                write(seg, 'other-' + name, bytes([selector]) + other[body:end])
    write(seg, 'other-dht', bytes([2]) + tables)

    # roundtrip: width - 32, height - 32, bit rate * 4096, A, B, pixels.
    trip = os.path.join(corpus, 'roundtrip')
    for name, x, y, w, h, rate in [('sd04_f0001_01', 220, 220, 81, 81, 0.75),
                                   ('fvc02db1_102_1', 100, 100, 100, 150, 0.3),
                                   ('mcc_sample_1_1', 30, 60, 49, 145, 2.0),
                                   ('fvc04db3_101_1_crop299x479', 40, 200, 120, 90, 1.0),
                                   ('fvc04db3_101_1_crop299x479', 50, 50, 191, 160, 4.0)]:
        r = int(rate * 4096)
        header = bytes([w - 32, h - 32, r >> 8, r & 255, 0, 255])
        write(trip, '%s-%dx%d-%g' % (name.split('_')[0], w, h, rate), header + crop(name, x, y, w, h))

    # transaction: transactions of small prints and raw pixels, built as the
    # command-line cases build them.
    sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'cli'))
    from run_cases import transaction
    tx = os.path.join(corpus, 'transaction')
    with tempfile.TemporaryDirectory() as tmp:
        files = {'print': streams['sd04-81x81-0.75.wsq'], 'other': streams['mcc-49x145-1.5.wsq'],
                 'pixels': crop('sd04_f0001_01', 100, 100, 12, 8)}
        for name, data in files.items():
            write(tmp, name, data)
        at = {name: os.path.join(tmp, name) for name in files}
        write(tx, 'prints-0500.an2', transaction('0500', ['2:0', '4:1:' + at['print'], '14:2:' + at['other']]))
        write(tx, 'print-0300.an2', transaction('0300', ['14:3:' + at['print']]))
        write(tx, 'pixels-0400.an2', transaction('0400', ['4:1:' + at['pixels'] + ':12x8', '2:0']))

    with open(os.path.join(HERE, 'segments_base.inc'), 'w') as f:
        f.write('// sd04_f0001_01 cropped at x 200, y 150 to 99 x 121, written by wsq1 at 0.75 bpp.\n')
        f.write('// Made by make_corpus.py.\n')
        for i in range(0, len(base), 16):
            f.write(' '.join('0x%02X,' % c for c in base[i:i + 16]) + '\n')


if __name__ == '__main__':
    main()
