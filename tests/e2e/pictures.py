"""Pictures for the logo tests, with nothing but the standard library: a 24-bit BMP writer, a
reader of X window dumps (xwd) and a PNG writer for keeping what the screen showed."""
import struct
import zlib


def logo_pixel(x, y):
    """The test logo's colour at (x, y): red follows x, green follows y, so a picture drawn one
    pixel off shows it; every channel stays light, so dark text over it stands out."""
    return (255 - x % 160, 120 + y % 120, 160 + (x + y) % 96)


def bmp(width, height, pixel=logo_pixel):
    """An uncompressed 24-bit bottom-up BMP."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + data


class Image:
    """RGB pixels, row by row."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows  # list of lists of (r, g, b)

    def pixel(self, x, y):
        return self.rows[y][x]

    def crop(self, left, top, width, height):
        left = max(0, left)
        top = max(0, top)
        rows = [row[left:left + width] for row in self.rows[top:top + height]]
        return Image(len(rows[0]) if rows else 0, len(rows), rows)

    def png(self):
        raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in self.rows)

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def _shift(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift, mask


def read_xwd(data):
    """A true-colour ZPixmap dump of 24 or 32 bits per pixel, as xwd writes the root window of a
    24-bit Xvfb screen."""
    fields = struct.unpack(">25I", data[:100])
    (header_size, _version, pixmap_format, _depth, width, height, _xoffset, byte_order,
     _unit, _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask,
     blue_mask, _bits_per_rgb, _entries, ncolors) = fields[:20]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("unsupported dump: format %d, %d bits" % (pixmap_format,
                                                                 bits_per_pixel))
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    channels = [_shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + (y + 1) * bytes_per_line]
        row = []
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], order)
            row.append(tuple(((value >> s) & m) * 255 // m for s, m in channels))
        rows.append(row)
    return Image(width, height, rows)
