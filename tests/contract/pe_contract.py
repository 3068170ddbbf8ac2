"""The export contract of 32-bit Windows binaries, read statically with MinGW's objdump (no
32-bit code runs on these machines): the PE format, the export and import tables, and the
calling convention of each export (a cdecl function returns with a plain `ret`; a stdcall one
pops its arguments with `ret $N`)."""
import re
import subprocess
import sys
import unittest

OBJDUMP = "i686-w64-mingw32-objdump"


def pe_info(path):
    """{"format", "image_base", "exports": {name: rva}, "imports": {dll (lower case): [names]}}"""
    text = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True,
                          check=True).stdout
    addresses = dict(re.findall(r"^\t\[\s*(\d+)\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", text,
                                re.M))
    names = text.partition("[Ordinal/Name Pointer] Table")[2].split("\n\n")[0]
    return {"format": re.search(r"file format (\S+)", text)[1],
            "image_base": int(re.search(r"^ImageBase\s+([0-9a-f]+)", text, re.M)[1], 16),
            "exports": {name: int(addresses[n], 16)
                        for n, name in re.findall(r"\[\s*(\d+)\] (\S+)", names)},
            "imports": {dll.lower(): re.findall(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", table)
                        for dll, table in re.findall(
                            r"DLL Name: (\S+)\n\tvma:.*\n((?:\t[0-9a-f]+\t.*\n)*)", text)}}


def first_return(path, address):
    """The first return instruction of the function at `address`, following the disassembly."""
    out = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", "--start-address=0x%x" % address,
                          "--stop-address=0x%x" % (address + 4096), path],
                         capture_output=True, text=True, check=True).stdout
    found = re.search(r"^\s*[0-9a-f]+:\s+(ret\w*\b.*)$", out, re.M)
    return " ".join(found[1].split()) if found else None


def check_dll(path, cdecl_names):
    """The contract's problems, as texts: none for a 32-bit DLL with these cdecl exports."""
    info = pe_info(path)
    if info["format"] != "pei-i386":
        return ["%s, not a 32-bit i386 PE" % info["format"]]
    problems = []
    for name in cdecl_names:
        if name not in info["exports"]:
            problems.append("%s not exported undecorated (exports: %s)"
                            % (name, [e for e in info["exports"] if name in e]))
            continue
        ret = first_return(path, info["image_base"] + info["exports"][name])
        if ret != "ret":
            problems.append("%s returns with '%s', not a plain ret (caller must clean the stack)"
                            % (name, ret))
    return problems


def main():
    """unittest.main ending with a line any runner reads."""
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
