"""quillon_bridge.exe under wine as a browser drives it (length-prefixed JSON on its standard
input and output), only what the real program shows: binary pipes, the input ending during a call,
one call at a time across two bridge processes, quillon.dll taken from nowhere but beside it, and
frames that nothing the library prints can break."""
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
ORIGIN = "https://counter.bank.test"
# A quillon.dll of another release that prints on its standard output when loaded and called.
PRINTING_LIBRARY = (r"""#include <stdio.h>
#include <string.h>
#include <windows.h>
static void say(const char* text) {  /* through the C runtime, then the standard handle */
    DWORD n;
    printf("%s\n", text), fflush(stdout);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &n, NULL);
}
BOOL WINAPI DllMain(HINSTANCE m, DWORD why, LPVOID r) {
    if (why == DLL_PROCESS_ATTACH) say("loaded");
    return TRUE;
}
__declspec(dllexport) int __cdecl ProcessWebMessage(const char* a, const char* r, char* o) {
    return say(r), strcpy(o, "[PING][-1007][123]"), -1007;
}
""", "1 VERSIONINFO\nFILEVERSION 9,9,9,0\nPRODUCTVERSION 9,9,9,0\nBEGIN\nEND\n")


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

    def request(self, message):  # a request from the page's origin: its first answer
        self.write(frame(dict(message, origin=ORIGIN)))
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
        os.makedirs(folder or self.workdir, exist_ok=True)
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
        for data, (id_, error, code) in [
                (b" " * (LIMIT + 1), (None, "message too long", "message-too-long")),
                (b"{\"id\":1,\"request\":", (None, "invalid JSON", "invalid-json")),
                (b"{\"request\":\"[PING]\"}", (None, "missing id", "missing-id")),
                (b"{\"id\":\"a\",\"request\":5}", ("a", "request is not a string",
                                                  "request-not-a-string")),
                (b"{\"id\":2,\"request\":\"[GETSERIALNUMBER][0][7]\"}",
                 (2, "missing origin", "missing-origin")),
                (b"{\"id\":3}\r\n" + b" " * 16, (3, "missing request or cmd", "missing-request"))]:
            bridge.write(frame(data))
            self.assertEqual(bridge.read(30), {"id": id_, "error": error, "errorCode": code},
                             data[:40])
        self.assertEqual((bridge.request({"id": 7, "request": "[GETSERIALNUMBER][0][7]"}),
                          bridge.read()), (
            {"id": 7, "running": True},
            {"id": 7, "code": 0, "reply": "[GETSERIALNUMBER][0][%s][123]" % SERIAL}))
        self.assertEqual(bridge.close(), 0)

    def test_one_call_at_a_time_on_the_pc_and_the_input_ending_mid_message(self):
        # (The busy answer of the same bridge is the unit tests' and the browser demo's.)
        self.start_terminal("on 27\n  delay %d\n  default\nend\n"
                            % (3500 if self.wine.emulated else 1500))
        other = self.bridge(os.path.join(self.workdir, "other"))
        self.assertEqual(other.ask({"id": 0, "cmd": "version"})["dll"], VERSION)  # it is up
        bridge = self.bridge()
        self.assertEqual(bridge.request({"id": "e", "request": "[ENROLL][0][7]"}),
                         {"id": "e", "running": True})
        self.assertEqual(other.request({"id": 1, "request": "[GETSERIALNUMBER][0][7]"}), {
            "id": 1, "code": -1008, "reply": "[GETSERIALNUMBER][-1008][123]",
            "heldBy": {"command": "ENROLL", "origin": ORIGIN, "elsewhere": True}})
        bridge.write(struct.pack("<I", 40) + b"{\"id\":")  # a message cut short, then the end
        time.sleep(0.5)
        bridge.proc.stdin.close()
        reply = bridge.read()
        self.assertEqual((reply["id"], reply["code"]), ("e", 0))
        self.assertRegex(reply["reply"], r"^\[ENROLL\]\[0\]\[[0-9A-F]{1196}\]\[123\]$")
        self.assertEqual(bridge.close(), 0)
        self.assertEqual(bridge.buffer, b"", "nothing after the call's reply")
        self.assertEqual(other.close(), 0)

    def test_only_the_quillon_dll_beside_the_bridge_loads_and_what_it_prints_is_not_sent(self):
        # The current directory holds quillon.dll; the bridge's folder does not, then holds one
        # that prints on the standard output when it loads and at each call.
        folder = os.path.join(self.workdir, "bridge")
        for library, dll, answers in [
                (False, None, [{"id": 2, "error": "quillon.dll is not loaded",
                                "errorCode": "dll-not-loaded"}]),
                (True, "9.9.9", [{"id": 2, "running": True},
                                 {"id": 2, "code": -1007, "reply": "[PING][-1007][123]"}])]:
            with self.subTest(library=library):
                if library:
                    self.wine.build_dll(os.path.join(folder, "quillon.dll"), *PRINTING_LIBRARY)
                bridge = self.bridge(folder=folder, cwd=self.workdir, library=False)
                self.assertEqual(bridge.ask({"id": 1, "cmd": "version"}),
                                 {"id": 1, "bridge": VERSION, "dll": dll})
                self.assertEqual([bridge.request({"id": 2, "request": "[PING]"})] +
                                 [bridge.read() for _ in answers[1:]], answers)
                self.assertEqual(bridge.close(), 0)
                self.assertEqual(bridge.buffer, b"")


if __name__ == "__main__":
    winerig.main()
