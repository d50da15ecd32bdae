#!/usr/bin/env python3
"""Cuts frames out of a `kessrig --record-video` stream (binary PPM pictures
one after another) and writes the chosen ones as PNG files.

    scripts/ppm-frames.py STREAM OUTDIR [INDEX...]

Without indexes every 30th frame is written. Prints how many frames the
stream holds and each file written. Lines of "--print-orientation" between
the pictures ("t=... z2=...") are passed over."""
import os
import struct
import sys
import zlib


def frames(path):
    with open(path, 'rb') as f:
        data = f.read()
    at = 0
    while at < len(data):
        while data[at:at + 2] == b't=':
            end = data.find(b'\n', at)
            at = len(data) if end < 0 else end + 1
        fields = []
        while len(fields) < 4:
            while at < len(data) and data[at:at + 1].isspace():
                at += 1
            start = at
            while at < len(data) and not data[at:at + 1].isspace():
                at += 1
            if start == at:
                return
            fields.append(data[start:at])
        at += 1
        if fields[0] != b'P6':
            raise SystemExit('not a PPM stream')
        w, h = int(fields[1]), int(fields[2])
        size = w * h * 3
        if at + size > len(data):
            return
        yield w, h, data[at:at + size]
        at += size


def write_png(path, w, h, rgb):
    raw = b''.join(b'\0' + rgb[y * w * 3:(y + 1) * w * 3] for y in range(h))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(raw, 6)))
        f.write(chunk(b'IEND', b''))


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    stream, out = sys.argv[1], sys.argv[2]
    wanted = {int(a) for a in sys.argv[3:]}
    os.makedirs(out, exist_ok=True)
    count = 0
    for i, (w, h, rgb) in enumerate(frames(stream)):
        count += 1
        if (wanted and i in wanted) or (not wanted and i % 30 == 0):
            name = os.path.join(out, 'frame-%04d.png' % i)
            write_png(name, w, h, rgb)
            print(name)
    print('frames=%d' % count)


if __name__ == '__main__':
    main()
