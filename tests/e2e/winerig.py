"""The wine64 test rig: one throw-away prefix per test run, in which the x86_64 twin of
quillon.dll and its Windows tools run headless against pseudo-terminal COM ports.

Environment (set by CTest from tests/e2e/native.cmake):
  QUILLON_WINEPREFIX  the prefix of this test run
  QUILLON_WIN64_DIR   build directory of the x86_64 Windows targets
  QUILLON_NATIVE_DIR  build directory of the native tools (simulator, pty shim)
"""
import os
import pty
import shutil
import subprocess
import tempfile
import termios
import tty
import time
import unittest


def _loader():
    out = subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True, check=True)
    for line in out.stdout.splitlines():
        if line.endswith("/wine64") and os.path.isfile(line):
            return line
    raise RuntimeError("wine64 loader not found")


LOADER = _loader()
WINESERVER = os.path.join(os.path.dirname(LOADER), "wineserver")
SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"


class Wine:
    def __init__(self, prefix=None):
        self.prefix = prefix or os.environ["QUILLON_WINEPREFIX"]
        self.win64 = os.environ.get("QUILLON_WIN64_DIR", "")
        self.native = os.environ.get("QUILLON_NATIVE_DIR", "")
        self.shim = os.path.join(self.native, "libquillon_ptyshim.so")

    def env(self, extra=None):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        if os.path.exists(self.shim):
            env["LD_PRELOAD"] = self.shim
        if extra:
            env.update(extra)
        return env

    def run(self, program, args, cwd=None, timeout=120, env=None):
        """Runs a Windows program; returns the CompletedProcess with CRLF folded to LF."""
        # Output goes to files, not pipes: wine's service processes, started by the first
        # program of a server, inherit the descriptors and would hold a pipe open for good.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([LOADER, program] + list(args), cwd=cwd, env=self.env(env),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result.stdout = out.read().decode("latin-1").replace("\r\n", "\n")
            result.stderr = err.read().decode("latin-1").replace("\r\n", "\n")
        return result

    # --- prefix -----------------------------------------------------------------------------
    def create(self):
        """A fresh prefix with the null graphics driver (modal dialogs work headless) and no
        serial ports of its own (COM1 would be this machine's console)."""
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.prefix)
        self.run("wineboot", ["-i"], timeout=300)
        self.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "null")
        self.kill_server()
        self.start_server()
        for name in os.listdir(self.dosdevices()):
            if name.startswith("com"):
                os.unlink(os.path.join(self.dosdevices(), name))
        self.reg_clear(SERIALCOMM)

    def start_server(self):
        """A persistent wineserver: each program then starts in a fraction of a second, and the
        volatile SERIALCOMM values survive between programs."""
        subprocess.Popen([WINESERVER, "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        time.sleep(1)

    def kill_server(self):
        subprocess.run([WINESERVER, "-k"], env=self.env(), capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.env(), capture_output=True, timeout=60)

    def dosdevices(self):
        return os.path.join(self.prefix, "dosdevices")

    def system32(self):
        return os.path.join(self.prefix, "drive_c", "windows", "system32")

    # --- registry ---------------------------------------------------------------------------
    def reg_add(self, key, name, value):
        r = self.run("reg", ["add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"])
        if r.returncode != 0:
            raise RuntimeError("reg add failed: " + r.stdout + r.stderr)

    def reg_clear(self, key):
        # The SERIALCOMM key is volatile: delete its values, never the key itself.
        self.run("reg", ["delete", key, "/va", "/f"])

    # --- settings files ---------------------------------------------------------------------
    def write_system32_ini(self, text):
        with open(os.path.join(self.system32(), "QUILLON.ini"), "w", newline="\r\n") as f:
            f.write(text)

    def remove_system32_ini(self):
        path = os.path.join(self.system32(), "QUILLON.ini")
        if os.path.exists(path):
            os.unlink(path)

    # --- COM ports --------------------------------------------------------------------------
    def map_com(self, number, device):
        link = os.path.join(self.dosdevices(), "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(device, link)

    def unmap_com(self, number):
        link = os.path.join(self.dosdevices(), "com%d" % number)
        if os.path.lexists(link):
            os.unlink(link)

    def unmap_all_com(self):
        for name in os.listdir(self.dosdevices()):
            if name.startswith("com"):
                os.unlink(os.path.join(self.dosdevices(), name))


class Host:
    """quillon_host.exe with quillon.dll beside it, run in a working directory of its own
    (where .\\QUILLON.ini is looked for)."""

    def __init__(self, wine, workdir):
        self.wine = wine
        self.workdir = workdir
        for name in ("quillon.dll", "quillon_host.exe"):
            shutil.copy(os.path.join(wine.win64, name), workdir)

    def write_ini(self, text):
        with open(os.path.join(self.workdir, "QUILLON.ini"), "w", newline="\r\n") as f:
            f.write(text)

    def send(self, request, access=None, prefill=None, timeout=180, env=None):
        """Returns (result code, reply text); `env` adds variables to the program's environment."""
        args = []
        if access is not None:
            args += ["--access", access]
        if prefill is not None:
            args += ["--prefill", prefill]
        if len(request) > 1000:
            path = os.path.join(self.workdir, "request.txt")
            with open(path, "w") as f:
                f.write(request)
            args += ["--file", "request.txt"]
        else:
            args.append(request)
        r = self.wine.run("quillon_host.exe", args, cwd=self.workdir, timeout=timeout, env=env)
        if r.returncode != 0:
            raise AssertionError("quillon_host failed (%d): %s %s" % (r.returncode, r.stdout,
                                                                      r.stderr))
        code, reply = None, None
        for line in r.stdout.split("\n"):
            if line.startswith("result: "):
                code = int(line[len("result: "):])
            elif line.startswith("reply: "):
                reply = line[len("reply: "):]
        return code, reply


def plain_frame(code, data=b""):
    """A plain frame: STX, L, code and data, checksum, ETX."""
    body = bytes([code]) + data
    return bytes([2, len(body) >> 8, len(body) & 0xFF]) + body + bytes([sum(body) & 0xFF, 3])


def recorded(code, data=b"", key_flag=0):
    """A line of the simulator's record for a frame the host sent."""
    return "%s %d" % (plain_frame(code, data).hex().upper(), key_flag)


class Terminal:
    """The counter-terminal simulator on a fresh pty, recording every frame it receives."""

    def __init__(self, wine, workdir, scenario="", extra_args=()):
        self.record = os.path.join(workdir, "record.txt")
        if os.path.exists(self.record):
            os.unlink(self.record)
        scenario_path = os.path.join(workdir, "scenario.txt")
        with open(scenario_path, "w") as f:
            f.write(scenario)
        self.errors = open(os.path.join(workdir, "simulator.err"), "w")
        sim = os.path.join(wine.native, "quillon_terminal_sim")
        self.proc = subprocess.Popen(
            [sim, "--record", self.record, "--scenario", scenario_path] + list(extra_args),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.errors, text=True)
        first = self.proc.stdout.readline().strip()
        if not first.startswith("pty: "):
            self.stop()
            raise RuntimeError("simulator did not start: %r" % first)
        self.device = first[len("pty: "):]

    def frames(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as f:
            return [line.strip() for line in f if line.strip()]

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
    """Each test gets a working directory and a host; registry and settings start clean."""

    def setUp(self):
        self.wine = Wine()
        self.wine.reg_clear(SERIALCOMM)
        self.wine.remove_system32_ini()
        self.workdir = tempfile.mkdtemp(prefix="quillon-e2e-")
        self.host = Host(self.wine, self.workdir)

    def start_terminal(self, scenario="", port=7, extra_args=()):
        """The simulator on COM`port` of the prefix, stopped when the test ends."""
        terminal = Terminal(self.wine, self.workdir, scenario, extra_args)
        self.addCleanup(terminal.stop)
        self.wine.map_com(port, terminal.device)
        return terminal

    def tearDown(self):
        self.wine.reg_clear(SERIALCOMM)
        self.wine.remove_system32_ini()
        self.wine.unmap_all_com()
        shutil.rmtree(self.workdir, ignore_errors=True)


def main():
    """unittest.main with a closing line that any runner understands."""
    import sys
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    passed = result.testsRun - failed - len(result.skipped)
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed or result.testsRun == 0 else 0)
