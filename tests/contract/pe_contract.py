"""Static checks of the 32-bit Windows binaries, which cannot run on these machines: the PE
machine, the undecorated export names, and the calling convention of each export (a cdecl
function returns with a plain `ret`; a stdcall one pops its arguments with `ret $N`).

usage: pe_contract.py dll PATH NAME [NAME ...]
       pe_contract.py imports PATH DLLNAME NAME
"""
import re
import struct
import subprocess
import sys

MACHINE_I386 = 0x014C


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError("%s: no MZ header" % path)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s: no PE signature" % path)
        self.machine, sections, _, _, _, optional_size, self.characteristics = \
            struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        self.pe32plus = magic == 0x20B
        self.image_base = (struct.unpack_from("<Q", self.data, optional + 24)[0] if self.pe32plus
                           else struct.unpack_from("<I", self.data, optional + 28)[0])
        directories = optional + (112 if self.pe32plus else 96)
        self.export_dir = struct.unpack_from("<II", self.data, directories)
        self.import_dir = struct.unpack_from("<II", self.data, directories + 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", self.data,
                                                                     table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rawsize),
                                  rawptr))

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def exports(self):
        """{name: rva} of the export table."""
        rva, size = self.export_dir
        if rva == 0:
            return {}
        base = self.offset(rva)
        (_, _, _, _, _, _, count_functions, count_names, functions, names,
         ordinals) = struct.unpack_from("<IIHHIIIIIII", self.data, base)
        result = {}
        for i in range(count_names):
            name = self.cstring(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
            ordinal = struct.unpack_from("<H", self.data, self.offset(ordinals) + 2 * i)[0]
            result[name] = struct.unpack_from("<I", self.data,
                                              self.offset(functions) + 4 * ordinal)[0]
        return result

    def imports(self):
        """{dll name (lower case): [imported names]}."""
        rva, _ = self.import_dir
        result = {}
        entry = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, entry)
            if name_rva == 0:
                break
            names = []
            table = self.offset(lookup or thunk)
            width = 8 if self.pe32plus else 4
            while True:
                value = struct.unpack_from("<Q" if self.pe32plus else "<I", self.data, table)[0]
                if value == 0:
                    break
                if not value >> (63 if self.pe32plus else 31):
                    names.append(self.cstring((value & 0x7FFFFFFF) + 2))
                table += width
            result[self.cstring(name_rva).lower()] = names
            entry += 20
        return result


def first_return(path, image_base, rva, objdump="i686-w64-mingw32-objdump"):
    """The first return instruction of the function at rva, following the disassembly."""
    start = image_base + rva
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", "--start-address=0x%x" % start,
                          "--stop-address=0x%x" % (start + 4096), path],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        m = re.match(r"\s*[0-9a-f]+:\s+(ret\w*\b.*)$", line)
        if m:
            return " ".join(m.group(1).split())
    return None


def check_dll(path, cdecl_names):
    pe = PeFile(path)
    problems = []
    if pe.machine != MACHINE_I386 or pe.pe32plus:
        return ["machine 0x%04x, not a 32-bit i386 PE" % pe.machine]
    exports = pe.exports()
    for name in cdecl_names:
        if name not in exports:
            decorated = [e for e in exports if name in e]
            problems.append("%s not exported undecorated (exports: %s)" % (name, decorated))
            continue
        ret = first_return(path, pe.image_base, exports[name])
        if ret != "ret":
            problems.append("%s returns with '%s', not a plain ret (caller must clean the "
                            "stack)" % (name, ret))
    return problems


def main(argv):
    if len(argv) >= 3 and argv[1] == "dll":
        problems = check_dll(argv[2], argv[3:])
    elif len(argv) == 5 and argv[1] == "imports":
        pe = PeFile(argv[2])
        problems = []
        if pe.machine != MACHINE_I386:
            problems.append("machine 0x%04x, not i386" % pe.machine)
        names = pe.imports().get(argv[3].lower(), [])
        if argv[4] not in names:
            problems.append("%s does not import %s from %s (imports: %s)"
                            % (argv[2], argv[4], argv[3], names))
    else:
        print(__doc__)
        return 2
    for p in problems:
        print("FAIL:", p)
    print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
