"""The performance benchmark: quillon_benchmark.exe under wine against the terminal simulator
paced at 115200 baud in both directions (COM7) and the stand-in OrvMyKad.dll, once with
DELAY_AFTER_FIRSTCALL 500 (the default) and once with 0. Prints the machine, the load and one
table per run. How to read the table: docs/performance.md. The x86_64 twin runs under wine64;
with QUILLON_E2E_ARCH=win32 the 32-bit product runs under the 32-bit wine in qemu's user-mode
emulator, and every figure carries the emulation's cost."""
import argparse
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import threading
import tty

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tools", "wine-rig"))
EMULATED = os.environ.get("QUILLON_E2E_ARCH") == "win32"
os.environ.setdefault("QUILLON_WINEPREFIX", os.path.join(
    root, "build", "benchmark-prefix32" if EMULATED else "benchmark-prefix"))
os.environ.setdefault("QUILLON_WIN64_DIR", os.path.join(root, "build", "win-x86_64"))
os.environ.setdefault("QUILLON_WIN32_DIR", os.path.join(root, "build", "win-i686"))
os.environ.setdefault("QUILLON_NATIVE_DIR", os.path.join(root, "build", "native"))

import winerig  # noqa: E402

BAUD = 115200
# The baseline library's name beside quillon.dll: another file name, so that the process loads
# both.
BASELINE_DLL = "quillon_baseline.dll"


def machine():
    name = platform.system()
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    name = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    wine = subprocess.run(winerig.Wine().command("--version"), capture_output=True, text=True)
    text = "%s, %d cores, %s" % (name, os.cpu_count(), wine.stdout.strip() or "wine ?")
    if EMULATED:
        qemu = subprocess.run(["qemu-i386-static", "--version"], capture_output=True, text=True)
        text += ("\nBuild: the 32-bit product under the 32-bit wine in %s: every time below "
                 "carries the emulation's cost" % (qemu.stdout.splitlines() or ["qemu ?"])[0])
    else:
        text += "\nBuild: the x86_64 twin under wine64"
    return text


def load():
    return "load average %.2f %.2f %.2f" % os.getloadavg()


def cable(wine, number):
    """Two ptys mapped as COM<number> and COM<number+1> and joined like a null-modem cable in one
    direction: what the program writes to COM<number+1> arrives on COM<number>."""
    ends = [os.openpty(), os.openpty()]
    for i, (_, slave) in enumerate(ends):
        tty.setraw(slave)
        wine.map_com(number + i, os.ttyname(slave))

    def relay():
        try:
            while True:
                data = os.read(ends[1][0], 4096)
                if not data:
                    break
                os.write(ends[0][0], data)
        except OSError:
            pass

    threading.Thread(target=relay, daemon=True).start()
    return [fd for pair in ends for fd in pair]


def run(wine, workdir, delay, runs, mykad, baseline, gap):
    with open(os.path.join(workdir, "QUILLON.ini"), "w", newline="\r\n") as f:
        f.write("[COMPORT]\nBAUDRATE=%d\n[APDU]\nDELAY_AFTER_FIRSTCALL=%d\n" % (BAUD, delay))
    sim = subprocess.Popen(
        [os.path.join(wine.native, "quillon_terminal_sim"), "--baud", str(BAUD)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        wine.map_com(7, sim.stdout.readline().strip().split(": ", 1)[1])
        print("-- DELAY_AFTER_FIRSTCALL %d, %s before" % (delay, load()), flush=True)
        fds = cable(wine, 8)
        args = ["--runs", str(runs), "--port", "7", "--cable", "8", "--gap", str(gap)]
        if not mykad:
            args.append("--no-mykad")
        if baseline:
            args += ["--baseline", BASELINE_DLL]
        r = wine.run("quillon_benchmark.exe", args, cwd=workdir, timeout=3600)
        for fd in fds:
            os.close(fd)
        # Progress lines on standard error are left out.
        print(r.stdout, end="" if r.returncode == 0 else r.stderr)
        print("-- %s after\n" % load(), flush=True)
        return r.returncode
    finally:
        sim.terminate()
        sim.wait()
        wine.unmap_com(7)
        wine.unmap_com(8)
        wine.unmap_com(9)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=30, help="runs per command (default 30)")
    parser.add_argument("--delays", default="500,0",
                        help="DELAY_AFTER_FIRSTCALL values to run with (default 500,0)")
    parser.add_argument("--no-mykad", action="store_true", help="leave the MyKad read out")
    parser.add_argument("--baseline-dll", help="another build of quillon.dll to time beside it")
    parser.add_argument("--gap", type=int, default=0,
                        help="idle ms before every timed call (default 0: back to back)")
    options = parser.parse_args()

    wine = winerig.Wine()
    if not os.path.exists(os.path.join(wine.prefix, "system.reg")):
        print("Preparing the wine prefix %s ..." % wine.prefix, flush=True)
        wine.create()
    else:
        wine.start_server()
    workdir = tempfile.mkdtemp(prefix="quillon-benchmark-")
    for name in ("quillon.dll", "quillon_benchmark.exe", "OrvMyKad.dll"):
        shutil.copy(os.path.join(wine.build, name), workdir)
    if options.baseline_dll:
        shutil.copy(options.baseline_dll, os.path.join(workdir, BASELINE_DLL))
    print("Machine: %s\n" % machine(), flush=True)
    failed = 0
    try:
        for delay in (int(d) for d in options.delays.split(",") if d.strip()):
            failed |= run(wine, workdir, delay, options.runs, not options.no_mykad,
                          bool(options.baseline_dll), options.gap)
    finally:
        wine.kill_server()
        shutil.rmtree(workdir, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
