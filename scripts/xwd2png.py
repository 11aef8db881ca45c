#!/usr/bin/env python3
"""Turns a 24/32-bit X window dump (xwd -root) into a PNG, for screenshots of
real X windows under Xvfb. Usage: xwd2png.py IN.xwd OUT.png [x y w h]"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], 'rb').read()
    fields = struct.unpack('>25I', data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    bits_per_pixel, bytes_per_line, ncolors = fields[11], fields[12], fields[19]
    byte_order = fields[7]
    if bits_per_pixel not in (24, 32) or bytes_per_line < width * 4:
        sys.exit('only 4-byte-per-pixel dumps are supported')
    offset = header_size + ncolors * 12
    x0, y0, w, h = 0, 0, width, height
    if len(sys.argv) == 7:
        x0, y0, w, h = (int(v) for v in sys.argv[3:7])
    rows = []
    for y in range(y0, y0 + h):
        line = data[offset + y * bytes_per_line: offset + (y + 1) * bytes_per_line]
        out = bytearray(b'\x00')
        for x in range(x0, x0 + w):
            px = line[x * 4: x * 4 + 4]
            b, g, r = (px[0], px[1], px[2]) if byte_order == 0 else (px[3], px[2], px[1])
            out += bytes((r, g, b))
        rows.append(bytes(out))
    raw = zlib.compress(b''.join(rows), 9)

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)

    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', raw) + chunk(b'IEND', b'')
    open(sys.argv[2], 'wb').write(png)


if __name__ == '__main__':
    main()
