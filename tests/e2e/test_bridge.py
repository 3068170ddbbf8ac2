"""quillon_bridge.exe under wine as a browser drives it (length-prefixed JSON on its standard
input and output), only what the real program shows: binary pipes, the input ending during a call,
and quillon.dll taken from nowhere but beside it."""
import json
import os
import re
import select
import shutil
import struct
import subprocess
import time

import winerig

SERIAL = "QB-2026-00077"
with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", _f.read())[1]
LIMIT = 4096  # the longest message the bridge reads (tools/bridge/framing.h)


def frame(payload):
    data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
    return struct.pack("<I", len(data)) + data


class Bridge:
    """quillon_bridge.exe in `folder` (with quillon.dll unless told otherwise), run in `cwd`."""

    def __init__(self, wine, folder, cwd=None, library=True):
        for name in ["quillon_bridge.exe"] + (["quillon.dll"] if library else []):
            shutil.copy(os.path.join(wine.build, name), folder)
        self.errors = open(os.path.join(folder, "bridge.err"), "w")
        self.proc = wine.popen(os.path.join(folder, "quillon_bridge.exe"),
                               ["chrome-extension://quillondemo/"], cwd=cwd or folder,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.errors)
        self.buffer = b""

    def write(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def read(self, timeout=60):  # the next message, decoded
        deadline = time.monotonic() + timeout
        while len(self.buffer) < 4 + (struct.unpack_from("<I", self.buffer)[0]
                                      if len(self.buffer) >= 4 else 0):
            ready = select.select([self.proc.stdout], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(self.proc.stdout.fileno(), 1 << 16) if ready[0] else b""
            assert chunk, "quillon_bridge: no answer (exit %s)" % self.proc.poll()
            self.buffer += chunk
        n = struct.unpack_from("<I", self.buffer)[0]
        message, self.buffer = self.buffer[4:4 + n], self.buffer[4 + n:]
        return json.loads(message.decode("utf-8"))

    def ask(self, message):
        self.write(frame(message))
        return self.read()

    def close(self):  # ends the input; returns the exit status (None: killed after a minute)
        self.proc.stdin.close()
        try:
            return self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        finally:
            self.proc.stdout.close()
            self.errors.close()


class BridgeTest(winerig.WineTestCase):
    def bridge(self, folder=None, **kwargs):
        self.host.write_ini("[APDU]\nDELAY_AFTER_FIRSTCALL=0\n")
        bridge = Bridge(self.wine, folder or self.workdir, **kwargs)
        self.addCleanup(bridge.close)
        return bridge

    def test_requests_version_and_bad_input_in_one_session(self):
        # The exact answers to bad input are the unit tests'; here some cross the real pipes.
        self.start_terminal("serial %s\n" % SERIAL)
        bridge = self.bridge()
        # Lengths holding 0x0A and 0x1A, and CR LF in the message: text-mode pipes would break them.
        pad = 266 - len('{"id":"","bridge":"%s","dll":"%s"}' % (VERSION, VERSION))
        self.assertEqual(bridge.ask({"id": "v" * pad, "cmd": "version"}),
                         {"id": "v" * pad, "bridge": VERSION, "dll": VERSION})
        for data, answer in [(b" " * (LIMIT + 1), {"id": None, "error": "message too long"}),
                             (b"{\"id\":1,\"request\":", {"id": None, "error": "invalid JSON"}),
                             (b"{\"request\":\"[PING]\"}", {"id": None, "error": "missing id"}),
                             (b"{\"id\":\"a\",\"request\":5}",
                              {"id": "a", "error": "request is not a string"}),
                             (b"{\"id\":3}\r\n" + b" " * 16,
                              {"id": 3, "error": "missing request or cmd"})]:
            bridge.write(frame(data))
            self.assertEqual(bridge.read(30), answer, data[:40])
        self.assertEqual(bridge.ask({"id": 7, "request": "[GETSERIALNUMBER][0][7]"}),
                         {"id": 7, "code": 0, "reply": "[GETSERIALNUMBER][0][%s][123]" % SERIAL})
        self.assertEqual(bridge.close(), 0)

    def test_input_that_ends_mid_message_ends_the_bridge_after_the_running_call(self):
        # (Its busy answer meanwhile is the browser demo's to show.)
        self.start_terminal("on 27\n  delay 1500\n  default\nend\n")
        bridge = self.bridge()
        bridge.write(frame({"id": "e", "request": "[ENROLL][0][7]"}))
        bridge.write(struct.pack("<I", 40) + b"{\"id\":")  # a message cut short, then the end
        time.sleep(0.5)
        bridge.proc.stdin.close()
        reply = bridge.read()
        self.assertEqual((reply["id"], reply["code"]), ("e", 0))
        self.assertRegex(reply["reply"], r"^\[ENROLL\]\[0\]\[[0-9A-F]{1196}\]\[123\]$")
        self.assertEqual(bridge.close(), 0)
        self.assertEqual(bridge.buffer, b"", "nothing after the call's reply")

    def test_a_quillon_dll_elsewhere_than_beside_the_bridge_is_not_loaded(self):
        # The current directory holds quillon.dll; the bridge's folder does not.
        folder = os.path.join(self.workdir, "bridge")
        os.mkdir(folder)
        bridge = self.bridge(folder=folder, cwd=self.workdir, library=False)
        self.assertEqual(bridge.ask({"id": 1, "cmd": "version"}),
                         {"id": 1, "bridge": VERSION, "dll": None})
        self.assertEqual(bridge.ask({"id": 2, "request": "[GETBRANCHCODE]"}),
                         {"id": 2, "error": "quillon.dll is not loaded"})
        self.assertEqual(bridge.close(), 0)


if __name__ == "__main__":
    winerig.main()
