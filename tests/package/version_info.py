"""Reads the VS_VERSION_INFO resource of a PE file: the fixed file and product versions and the
strings of its StringFileInfo tables."""
import struct

from pe_contract import PeFile

RT_VERSION = 16


def _resource_directory(pe):
    pe_at = struct.unpack_from("<I", pe.data, 0x3C)[0]
    optional = pe_at + 24
    directories = optional + (112 if pe.pe32plus else 96)
    return struct.unpack_from("<II", pe.data, directories + 2 * 8)  # entry 2: resources


def _version_blob(pe):
    rva, size = _resource_directory(pe)
    if rva == 0:
        return None
    base = pe.offset(rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", pe.data, at + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", pe.data, at + 16 + 8 * i)
            yield ident, target

    for ident, target in entries(base):
        if ident != RT_VERSION or not target & 0x80000000:
            continue
        # type -> name -> language -> data entry: take the first at each level.
        at = base + (target & 0x7FFFFFFF)
        for _ in range(2):
            _, target = next(entries(at))
            at = base + (target & 0x7FFFFFFF)
        data_rva, data_size = struct.unpack_from("<II", pe.data, at)
        start = pe.offset(data_rva)
        return pe.data[start:start + data_size]
    return None


def _block(blob, at):
    """(length, value length, type, key, value offset, children offset) of the block at `at`."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    end = at + 6
    while blob[end:end + 2] != b"\0\0":
        end += 2
    key = blob[at + 6:end].decode("utf-16-le")
    value = (end + 2 + 3) & ~3
    return length, value_length, kind, key, value


def _children(blob, start, end):
    at = (start + 3) & ~3
    while at < end:
        length = struct.unpack_from("<H", blob, at)[0]
        if length == 0:
            break
        yield at
        at = (at + length + 3) & ~3


def read(path):
    """{"file": (a, b, c, d), "product": (a, b, c, d), "strings": {name: text}} or None."""
    blob = _version_blob(PeFile(path))
    if blob is None:
        return None
    length, value_length, _, key, value = _block(blob, 0)
    if key != "VS_VERSION_INFO" or value_length < 52:
        raise ValueError("%s: not a VS_VERSION_INFO block (%r)" % (path, key))
    (signature, _, file_ms, file_ls, product_ms, product_ls) = struct.unpack_from("<6I", blob, value)
    if signature != 0xFEEF04BD:
        raise ValueError("%s: VS_FIXEDFILEINFO signature 0x%08x" % (path, signature))
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)  # noqa: E731
    result = {"file": split(file_ms, file_ls), "product": split(product_ms, product_ls),
              "strings": {}}
    for child in _children(blob, value + value_length, length):
        child_length, _, _, child_key, child_value = _block(blob, child)
        if child_key != "StringFileInfo":
            continue
        for table in _children(blob, child_value, child + child_length):
            table_length, _, _, _, table_value = _block(blob, table)
            for entry in _children(blob, table_value, table + table_length):
                _, text_length, _, name, text_at = _block(blob, entry)
                text = blob[text_at:text_at + 2 * text_length].decode("utf-16-le")
                result["strings"][name] = text.rstrip("\0")
    return result
