"""The wine side of the browser test (environment as for tests/e2e): the bridge, quillon.dll and
the stand-in reader in a folder, the simulator on COM7 and the launcher the host manifest names
(which adds a byte to the file "starts" at each start of the bridge).
Prints one JSON line (paths, the replies the e2e tables expect); holds all until stdin closes."""
import json
import os
import shlex
import shutil
import signal
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "..", "tools", "wine-rig")]
import winerig  # noqa: E402
from test_commands import ENROLLED, NAME, ROUND, SERIAL  # noqa: E402

# The first enrolment answers 4 s late, so a second request can be sent while it runs even on a
# busy machine; the dialog's step limit is raised to 10 s so that the wait stays well inside it.
SCENARIO = ("name %s\nserial %s\nsignature 00 01 7F 80 AB FF\ntemplate %s\nverify match\n"
            "on 27\n  event A0\n  delay 4000\n  default\nend\n" % (NAME, SERIAL, ENROLLED.hex()))
SETTINGS = ("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n[MYKAD]\nTIMEOUT=10000\n"
            "[BRANCH]\nCODE=ST042\nNAME=Serindit Tengah\n")


def expected():
    """The e2e round's replies to the requests the demo sends (show flag aside)."""
    replies = {request.replace("[1][7]", "[0][7]"): reply for request, _, reply, _ in ROUND
               if isinstance(reply, str)}
    keys = {"serial": "[GETSERIALNUMBER][0][7]", "firmware": "[GETFIRMWAREVERSION][0][7]",
            "signature": "[GETSIGNATURE][0][7]", "enroll": "[ENROLL][0][7]",
            "noport": "[GETSERIALNUMBER][0][9]", "datetime": "[SETDATETIME][7][99AB12345678]"}
    out = {name: replies[request] for name, request in keys.items()}
    out.update(verify="[VERIFY][0][123]", verify2f="[VERIFY2F][0][123]",
               template=ENROLLED.hex().upper())
    return out


def main():
    wine = winerig.Wine()
    wine.reg_clear(winerig.SERIALCOMM)
    workdir = tempfile.mkdtemp(prefix="quillon-web-")
    for name in ("quillon.dll", "quillon_bridge.exe", "OrvMyKad.dll"):
        shutil.copy(os.path.join(wine.build, name), workdir)
    winerig.write_ini(workdir, SETTINGS)
    terminal = winerig.Terminal(wine, workdir, SCENARIO)
    wine.map_com(7, terminal.device)
    env, launcher = wine.env(), os.path.join(workdir, "launch-bridge")
    keys = "WINEPREFIX WINEDEBUG WINEDLLOVERRIDES WINEARCH LD_PRELOAD QUILLON_PRELOAD".split()
    with open(launcher, "w") as f:  # Chromium's native host: the bridge under wine
        f.write("#!/bin/sh\ncd %s || exit 1\nprintf . >>starts\nexec env %s %s \"$@\" 2>>bridge.err\n" % (
            shlex.quote(workdir), " ".join("%s=%s" % (k, shlex.quote(env[k])) for k in keys
                                           if k in env),
            " ".join(map(shlex.quote, wine.command(os.path.join(workdir, "quillon_bridge.exe"))))))
    os.chmod(launcher, 0o755)
    print(json.dumps({"workdir": workdir, "launcher": launcher, "record": terminal.record,
                      "starts": os.path.join(workdir, "starts"),
                      "expected": expected()}), flush=True)
    # Ctrl-C reaches the whole process group: the parent decides, and closes our input.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        sys.stdin.read()
    finally:
        terminal.stop()
        wine.unmap_com()
        wine.reg_clear(winerig.SERIALCOMM)
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
