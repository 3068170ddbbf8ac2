"""Runs one example request of every command against the x86_64 twin under wine64, with the
counter-terminal simulator on COM7 and the OrvMyKad.dll stand-in, and prints each request, result
code and reply. The examples in docs/commands.md are taken from its output.

usage: python3 scripts/doc_examples.py [WIN64_DIR [NATIVE_DIR]]
"""
import os
import shutil
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tools", "wine-rig"))
if len(sys.argv) > 1:
    os.environ["QUILLON_WIN64_DIR"] = os.path.abspath(sys.argv[1])
if len(sys.argv) > 2:
    os.environ["QUILLON_NATIVE_DIR"] = os.path.abspath(sys.argv[2])
os.environ.setdefault("QUILLON_WINEPREFIX", os.path.join(root, "build", "examples-prefix"))
os.environ.setdefault("QUILLON_WIN64_DIR", os.path.join(root, "build", "win-x86_64"))
os.environ.setdefault("QUILLON_NATIVE_DIR", os.path.join(root, "build", "native"))

import winerig  # noqa: E402

SCENARIO = """name ACME BANK
serial SN-0042
signature 0A 0B 0C 1F 20 FF
"""


def show(host, request, access=None):
    code, reply = host.send(request, access=access)
    print("request: %s\nresult:  %d\nreply:   %s\n" % (request, code, reply), flush=True)
    return code, reply


def main():
    wine = winerig.Wine()
    wine.create()
    workdir = tempfile.mkdtemp(prefix="quillon-examples-")
    host = winerig.Host(wine, workdir)
    shutil.copy(os.path.join(wine.build, "OrvMyKad.dll"), workdir)
    host.write_ini("[BRANCH]\nCODE=KL042\nNAME=Cawangan Contoh\n")
    terminal = winerig.Terminal(wine, workdir, SCENARIO)
    wine.map_com(7, terminal.device)
    try:
        show(host, "[GETBRANCHCODE]")
        show(host, "[PING]")
        show(host, "[GETBRANCHCODE]", access="XXXXX")
        show(host, "[GETSERIALNUMBER][0][7]")
        show(host, "[GETFIRMWAREVERSION][0][7]")
        show(host, "[SETDATETIME][7][260314093000]")
        show(host, "[GETSIGNATURE][0][7]")
        code, reply = show(host, "[ENROLL][0][7]")
        template = reply.split("][")[2] if code == 0 else ""
        show(host, "[VERIFY][0][7][%s]" % template)
        show(host, "[VERIFY2F][0][7][%s%s]" % (template, template))
        show(host, "[VERIFY][0][7][%s]" % ("00" * 598))
        for command in ("READMYKAD", "READMYKADNOPHOTO", "READMYKADNOVERIFYWITHPHOTO",
                        "READMYKADNOVERIFYNOPHOTO"):
            show(host, "[%s][0][0][COUNTER-07][A1][T-000123]" % command)
        with open(os.path.join(workdir, "OrvMyKad.scenario"), "w") as f:
            f.write("card mykid\n")
        show(host, "[READMYKADNOPHOTO][0][0][COUNTER-07][A1][T-000124]")
        os.unlink(os.path.join(workdir, "OrvMyKad.scenario"))
        show(host, "[GETSERIALNUMBER][0][9]")  # no terminal on COM9
        terminal.stop()
        terminal = winerig.Terminal(wine, workdir, "on any always\nsilence\nend\n")
        wine.map_com(7, terminal.device)
        host.write_ini("[MYKAD]\nTIMEOUT=2000\n")
        show(host, "[GETSERIALNUMBER][0][7]")  # the terminal never answers
    finally:
        terminal.stop()
        wine.kill_server()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
