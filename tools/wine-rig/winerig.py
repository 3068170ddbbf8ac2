"""The wine test rig: one throw-away prefix per test run, in which a Windows build of quillon.dll
and its Windows tools run headless against pseudo-terminal COM ports. One switch chooses the
build, so every test runs on both without being written twice:

    QUILLON_E2E_ARCH=win64  the x86_64 twin (QUILLON_WIN64_DIR) under wine64 (the default)
    QUILLON_E2E_ARCH=win32  the 32-bit product (QUILLON_WIN32_DIR) under the 32-bit wine, whose
                            i386 code runs in qemu's user-mode emulator

CTest sets that, QUILLON_WINEPREFIX (one prefix per build and run), QUILLON_NATIVE_DIR
(simulator, pty shims, decoder) and PYTHONPATH to this folder for the files of tests/e2e; the
demo, the benchmark and scripts/doc_examples.py import it too. `python3 winerig.py create|stop
PREFIX` makes the prefix or stops its server; `python3 winerig.py run PREFIX PROGRAM ARGS...` runs
a program in it."""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARCH = os.environ.get("QUILLON_E2E_ARCH", "win64")
if ARCH not in ("win32", "win64"):
    raise SystemExit("QUILLON_E2E_ARCH must be win32 or win64, not %r" % ARCH)
LOADER = next(l for l in subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True,
                                        check=True).stdout.splitlines()
              if l.endswith("/wine64") and os.path.isfile(l))
LOADER32 = os.path.join(os.path.dirname(LOADER), "wine")
WINESERVER = os.path.join(os.path.dirname(LOADER), "wineserver")
SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"

# The 32-bit loader execs further i386 programs, which this machine cannot run natively: inside a
# user and mount namespace of its own, each command registers qemu for i386 ELF files with a
# binfmt_misc instance private to it, leaving the machine's settings alone. The pty shim is
# preloaded only here, so the 64-bit helpers on the way do not complain about its ELF class.
I386 = (r":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:"
        r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:"
        r"/usr/bin/qemu-i386-static:F")
EMULATED = ("mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && "
            "printf '%%s' '%s' > /proc/sys/fs/binfmt_misc/register && "
            'LD_PRELOAD="$QUILLON_PRELOAD" exec "$@"' % I386)


class Wine:
    """The chosen build under its wine: loader, prefix, programs and pty shim."""

    def __init__(self, prefix=None, arch=None):
        self.arch = arch or ARCH
        self.prefix = prefix or os.environ["QUILLON_WINEPREFIX"]
        self.build = os.environ.get(
            "QUILLON_WIN32_DIR" if self.arch == "win32" else "QUILLON_WIN64_DIR", "")
        self.native = os.environ.get("QUILLON_NATIVE_DIR", "")
        self.emulated = self.arch == "win32"
        self.shim = os.path.join(self.native, "libquillon_ptyshim32.so" if self.emulated else
                                 "libquillon_ptyshim.so")

    def command(self, program, args=()):
        """The command line that runs a Windows program (or a wine tool) in the prefix."""
        if self.emulated:
            return ["unshare", "-Urm", "sh", "-c", EMULATED, "sh", LOADER32, program] + list(args)
        return [LOADER, program] + list(args)

    def server_command(self, *args):
        if self.emulated:  # the namespace's root, as the emulated programs see their owner
            return ["unshare", "-Ur", WINESERVER] + list(args)
        return [WINESERVER] + list(args)

    def env(self, extra=None):
        # The shim gives the pty COM ports modem lines (the dialog waits for EV_CTS too).
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")
        env.pop("LD_PRELOAD", None)
        if self.emulated:
            env.update(WINEARCH="win32", QUILLON_PRELOAD=self.shim)
        else:
            env.update(WINEARCH="win64", LD_PRELOAD=self.shim)
        env.update(extra or {})
        return env

    def run(self, program, args, cwd=None, timeout=120, env=None):
        """Runs a Windows program; stdout and stderr come back with CRLF folded to LF."""
        # Files, not pipes: wine's service processes inherit the descriptors and hold pipes open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(self.command(program, args), cwd=cwd, env=self.env(env),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            for name, f in (("stdout", out), ("stderr", err)):
                f.seek(0)
                setattr(result, name, f.read().decode("latin-1").replace("\r\n", "\n"))
        return result

    def popen(self, program, args=(), **kwargs):
        """Starts a Windows program; keyword arguments go to subprocess.Popen, env= adds to the
        prefix's environment."""
        return subprocess.Popen(self.command(program, args), env=self.env(kwargs.pop("env", None)),
                                **kwargs)

    def build_dll(self, path, source, resource=None):
        """Compiles C `source` (with an .rc `resource`) into a DLL of this build's bitness: a
        library of another make or release for a test to put in place of a shipped one."""
        tools = "%s-w64-mingw32-" % ("i686" if self.emulated else "x86_64")
        objects = []
        if resource:
            objects = ["-x", "none", path + ".res.o"]
            subprocess.run([tools + "windres", "-o", objects[-1]], input=resource, text=True,
                           check=True)
        subprocess.run([tools + "gcc", "-shared", "-x", "c", "-", "-o", path] + objects,
                       input=source, text=True, check=True)

    def create(self):
        """A fresh prefix with the null graphics driver (modal dialogs work headless), a
        persistent wineserver (SERIALCOMM values outlive programs) and no COM ports of its own."""
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.prefix)
        if self.emulated:
            r = subprocess.run(self.command("--version"), env=self.env(), capture_output=True,
                               text=True, timeout=120)
            assert r.returncode == 0, (
                "the 32-bit wine does not start (%s): it needs wine32:i386, qemu-user-static and "
                "a kernel that lets a user namespace mount binfmt_misc (6.7 or later)"
                % (r.stdout + r.stderr).strip())
        r = self.run("wineboot", ["-i"], timeout=600)
        assert r.returncode == 0, "wineboot: " + r.stdout + r.stderr
        self.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "null")
        self.kill_server()
        self.start_server()
        self.unmap_com()
        self.reg_clear(SERIALCOMM)

    def start_server(self):
        subprocess.Popen(self.server_command("-p"), env=self.env(), stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        time.sleep(1)

    def kill_server(self):
        subprocess.run(self.server_command("-k"), env=self.env(), capture_output=True)
        subprocess.run(self.server_command("-w"), env=self.env(), capture_output=True, timeout=60)

    def reg_add(self, key, name, value):
        r = self.run("reg", ["add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])
        assert r.returncode == 0, "reg add: " + r.stdout + r.stderr

    def reg_clear(self, key):
        self.run("reg", ["delete", key, "/va", "/f"])  # SERIALCOMM is volatile: keep the key

    def map_com(self, number, device):
        self.unmap_com(number)
        os.symlink(device, os.path.join(self.prefix, "dosdevices", "com%d" % number))

    def unmap_com(self, number=None):  # COM`number`, or every COM port
        folder = os.path.join(self.prefix, "dosdevices")
        for name in os.listdir(folder):
            if name == "com%d" % number if number else name.startswith("com"):
                os.unlink(os.path.join(folder, name))


def write_ini(folder, text):
    with open(os.path.join(folder, "QUILLON.ini"), "w", newline="\r\n") as f:
        f.write(text)


class Host:
    """quillon_host.exe and quillon.dll in a working directory of their own (.\\QUILLON.ini)."""

    def __init__(self, wine, workdir):
        self.wine, self.workdir = wine, workdir
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(wine.build, name), workdir)

    def write_ini(self, text):
        write_ini(self.workdir, text)

    def send(self, request, access=None, prefill=None, timeout=180, env=None):
        """Returns (result code, reply text)."""
        with open(os.path.join(self.workdir, "request.txt"), "w") as f:
            f.write(request)  # a file, so long hex fields need no command line
        args = (["--access", access] if access else []) + (["--prefill", prefill] if prefill else [])
        r = self.wine.run("quillon_host.exe", args + ["--file", "request.txt"], cwd=self.workdir,
                          timeout=timeout, env=env)
        lines = dict(l.split(": ", 1) for l in r.stdout.split("\n") if ": " in l)
        assert r.returncode == 0 and "result" in lines, "quillon_host: " + r.stdout + r.stderr
        return int(lines["result"]), lines.get("reply")


class Batch:
    """quillon_batch.exe (tests/batch): one process that keeps quillon.dll loaded and answers
    request after request on its standard input."""

    def __init__(self, wine, workdir, env=None, reader=True, cwd=None):
        """The programs go into workdir; the process runs in cwd (default: workdir)."""
        for name in ["quillon.dll", "quillon_batch.exe"] + (["OrvMyKad.dll"] if reader else []):
            shutil.copy(os.path.join(wine.build, name), workdir)
        self.errors = open(os.path.join(workdir, "batch.err"), "w")
        self.proc = wine.popen(os.path.join(workdir, "quillon_batch.exe"), cwd=cwd or workdir,
                               env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=self.errors)
        self.buffer = b""
        # Started once it answers: a test that times a call times the call, not the process's
        # start-up (seconds under the emulator).
        assert self.ask("loaded quillon.dll") == "loaded: 1"

    def ask(self, line, timeout=120):
        self.proc.stdin.write(line.encode("latin-1") + b"\n")
        self.proc.stdin.flush()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            ready = select.select([self.proc.stdout], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(self.proc.stdout.fileno(), 1 << 20) if ready[0] else None
            assert chunk, "quillon_batch: no answer (exit %s)" % self.proc.poll()
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def send(self, request, timeout=120):
        """Returns (result code, reply text)."""
        code, reply = self.ask(request, timeout).split("\t", 1)
        return int(code[len("result: "):]), reply[len("reply: "):]

    def counts(self):
        return tuple(int(f.split(": ")[1]) for f in self.ask("counts", 30).split("\t"))

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.communicate(b"quit\n", timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.communicate()
        self.errors.close()


def windows_path(path):
    """The path as wine's Z: drive shows a Unix path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def record_lines(path):
    """The lines of a call or frame record (CRLF or LF), or none when nothing wrote one."""
    if not os.path.exists(path):
        return []
    with open(path, newline="") as f:
        return f.read().splitlines()


def recorded(code, data=b"", key_flag=0):
    """The simulator's record line of a plain frame (STX, L, code and data, sum, ETX) it got."""
    body = bytes([code]) + data
    frame = bytes([2, len(body) >> 8, len(body) & 0xFF]) + body + bytes([sum(body) & 0xFF, 3])
    return "%s %d" % (frame.hex().upper(), key_flag)


class Terminal:
    """The counter-terminal simulator on a fresh pty, recording every frame it receives."""

    def __init__(self, wine, workdir, scenario=""):
        self.record, script = (os.path.join(workdir, n) for n in ("record.txt", "scenario.txt"))
        if os.path.exists(self.record):
            os.unlink(self.record)
        with open(script, "w") as f:
            f.write(scenario)
        self.errors = open(os.path.join(workdir, "simulator.err"), "w")
        self.proc = subprocess.Popen(
            [os.path.join(wine.native, "quillon_terminal_sim"), "--record", self.record,
             "--scenario", script], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=self.errors, text=True)
        first = self.proc.stdout.readline().strip()
        if not first.startswith("pty: "):
            self.stop()
            raise RuntimeError("simulator did not start: %r" % first)
        self.device = first[len("pty: "):]

    def frames(self, at_least=0, within=3.0):
        """The frames recorded so far; with at_least, waits up to `within` seconds for that many
        (a frame whose reply is not awaited may still be on its way to the record)."""
        deadline = time.monotonic() + within
        while True:
            lines = []
            if os.path.exists(self.record):
                with open(self.record) as f:
                    lines = [line.strip() for line in f if line.strip()]
            if len(lines) >= at_least or time.monotonic() >= deadline:
                return lines
            time.sleep(0.02)

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.errors.close()


class WineTestCase(unittest.TestCase):
    """Each test gets a working directory and a host; registry, settings and ports start clean."""

    def setUp(self):
        self.wine = Wine()
        self.wine.reg_clear(SERIALCOMM)
        self.workdir = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.host = Host(self.wine, self.workdir)
        self.addCleanup(shutil.rmtree, self.workdir, True)
        self.addCleanup(self.wine.unmap_com)
        self.addCleanup(self.wine.reg_clear, SERIALCOMM)

    def start_terminal(self, scenario="", port=7):
        terminal = Terminal(self.wine, self.workdir, scenario)
        self.addCleanup(terminal.stop)
        self.wine.map_com(port, terminal.device)
        return terminal

    def reader(self, scenario, ini):
        """A batch host whose stand-in OrvMyKad.dll plays `scenario`, with `ini` as QUILLON.ini."""
        with open(os.path.join(self.workdir, "reader.txt"), "w") as f:
            f.write(scenario + "\n")
        self.host.write_ini(ini)
        return self.batch(env={"QUILLON_ORVMYKAD_SCENARIO": "reader.txt"})

    def batch(self, **kwargs):
        batch = Batch(self.wine, self.workdir, **kwargs)
        self.addCleanup(batch.close)
        return batch


def main():
    """unittest.main ending with a line any runner reads; exit 77 (CTest: skipped) when every
    test was skipped."""
    result = unittest.main(exit=False, verbosity=2).result
    failed, skipped = len(result.failures) + len(result.errors), len(result.skipped)
    print("%d passed, %d failed, %d skipped" % (result.testsRun - failed - skipped, failed, skipped))
    sys.exit(1 if failed or not result.testsRun else 77 if skipped == result.testsRun else 0)


if __name__ == "__main__":
    start = time.time()
    if sys.argv[1] == "create":
        Wine(sys.argv[2]).create()
        print("prefix ready in %.1f s" % (time.time() - start))
    elif sys.argv[1] == "run":  # run PREFIX PROGRAM ARGS...: by hand, in the current directory
        r = Wine(sys.argv[2]).run(sys.argv[3], sys.argv[4:], timeout=None)
        print(r.stdout + r.stderr, end="")
        sys.exit(r.returncode)
    else:
        Wine(sys.argv[2]).kill_server()
