"""The demo: quillon.dll (x86_64 twin) under wine64 answering requests from the host program,
with the counter-terminal simulator on a pseudo-terminal as COM7 and the stand-in OrvMyKad.dll
as the MyKad reader."""
import os
import shutil
import subprocess
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tools", "wine-rig"))
os.environ.setdefault("QUILLON_WINEPREFIX", os.path.join(root, "build", "demo-prefix"))
os.environ.setdefault("QUILLON_WIN64_DIR", os.path.join(root, "build", "win-x86_64"))
os.environ.setdefault("QUILLON_NATIVE_DIR", os.path.join(root, "build", "native"))

import winerig  # noqa: E402


def shorten(text, keep=72):
    return text if len(text) <= keep else text[:keep] + "...(%d characters)" % len(text)


def show(host, request):
    code, reply = host.send(request)
    print("request: %s\nresult:  %d\nreply:   %s\n" % (shorten(request), code, shorten(reply)),
          flush=True)
    return code, reply


def read_mykad(wine, host):
    """A MyKad read through the stand-in reader library (its default card), decoded."""
    shutil.copy(os.path.join(wine.build, "OrvMyKad.dll"), host.workdir)
    code, reply = show(host, "[READMYKAD][0][3][PELANGGAN CONTOH][KL01][OPERATOR7]")
    decoded = subprocess.run([os.path.join(wine.native, "quillon_mykad_decode")], input=reply,
                             capture_output=True, text=True)
    print("decoded by quillon_mykad_decode:\n" + decoded.stdout + decoded.stderr, flush=True)


def main():
    wine = winerig.Wine()
    print("Preparing the wine prefix %s ..." % wine.prefix, flush=True)
    wine.create()
    workdir = tempfile.mkdtemp(prefix="quillon-demo-")
    host = winerig.Host(wine, workdir)
    host.write_ini("[BRANCH]\nCODE=KL042\nNAME=Cawangan Contoh\n"
                   "[APDU]\nDELAY_AFTER_FIRSTCALL=100\n")
    simulator = subprocess.Popen(
        [os.path.join(wine.native, "quillon_terminal_sim")], stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL, text=True)
    try:
        pty_line = simulator.stdout.readline().strip()
        wine.map_com(7, pty_line.split(": ", 1)[1])
        print("Terminal simulator on %s as COM7\n" % pty_line.split(": ", 1)[1])
        for request in ("[GETBRANCHCODE]", "[PING]", "[GETSERIALNUMBER][0][7]",
                        "[GETFIRMWAREVERSION][0][7]", "[SETDATETIME][7][]",
                        "[GETSIGNATURE][0][7]", "[ENROLL][0][7]"):
            code, reply = show(host, request)
        # Verify the template just enrolled against the same (simulated) finger.
        enrolled = reply.split("][")[2] if code == 0 else ""
        show(host, "[VERIFY][0][7][%s]" % enrolled)
        read_mykad(wine, host)
    finally:
        simulator.terminate()
        simulator.wait()
        wine.kill_server()


if __name__ == "__main__":
    main()
