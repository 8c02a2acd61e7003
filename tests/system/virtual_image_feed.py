#!/usr/bin/env python3
"""Sends one image or one command to libfprint's virtual image device.

  virtual_image_feed.py SOCKET FILE.png     the grey image of FILE.png (8-bit grey, as
                                            vantera-reader render writes it)
  virtual_image_feed.py SOCKET --retry N    the retry result N (0-3)

The device reads native 32-bit width and height, then width * height grey bytes; a width
of -1 is a retry command with its code in place of the height. Exit status 0 when sent.
"""

import socket
import struct
import sys
import time
import zlib


def grey_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, width, height, idat = 8, 0, 0, b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 0 or interlace != 0:
                sys.exit(f"{path}: not an 8-bit grey image")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    rows = zlib.decompress(idat)
    pixels = bytearray()
    for y in range(height):
        row = rows[y * (width + 1):(y + 1) * (width + 1)]
        if len(row) != width + 1 or row[0] != 0:
            sys.exit(f"{path}: rows with filters are not read here")
        pixels += row[1:]
    return width, height, bytes(pixels)


def main():
    if len(sys.argv) != 3 and not (len(sys.argv) == 4 and sys.argv[2] == "--retry"):
        sys.exit(__doc__)
    if sys.argv[2] == "--retry":
        message = struct.pack("=ii", -1, int(sys.argv[3]))
    else:
        width, height, pixels = grey_png(sys.argv[2])
        message = struct.pack("=ii", width, height) + pixels
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(10)
        s.connect(sys.argv[1])
        s.sendall(message)
        time.sleep(0.5)  # the device reads before it sees the connection close


if __name__ == "__main__":
    main()
