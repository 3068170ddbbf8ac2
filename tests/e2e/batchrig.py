"""quillon_batch.exe under wine64: one host process that keeps quillon.dll loaded and takes
request after request, so a test can send a fault and then the next request to the same process,
or a thousand requests in a row, and ask for the process's thread and handle counts."""
import os
import select
import shutil
import subprocess
import time

import winerig


class Batch:
    def __init__(self, wine, workdir, env=None, reader=True):
        self.wine = wine
        self.workdir = workdir
        names = ["quillon.dll", "quillon_batch.exe"] + (["OrvMyKad.dll"] if reader else [])
        for name in names:
            shutil.copy(os.path.join(wine.win64, name), workdir)
        self.errors = open(os.path.join(workdir, "batch.err"), "w")
        self.proc = subprocess.Popen([winerig.LOADER, "quillon_batch.exe"], cwd=workdir,
                                     env=wine.env(env), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.errors)
        self.buffer = b""

    def _line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("quillon_batch gave no answer within %d s" % timeout)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
                if not chunk:
                    raise AssertionError("quillon_batch ended (exit %s)" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def _ask(self, line, timeout):
        self.proc.stdin.write(line.encode("latin-1") + b"\n")
        self.proc.stdin.flush()
        return self._line(timeout)

    def send(self, request, timeout=120):
        """Returns (result code, reply text)."""
        if len(request) > 2000:
            with open(os.path.join(self.workdir, "request.txt"), "w") as f:
                f.write(request)
            request = "@file request.txt"
        line = self._ask(request, timeout)
        code, reply = line.split("\t", 1)
        if not code.startswith("result: ") or not reply.startswith("reply: "):
            raise AssertionError("unexpected answer: %r" % line)
        return int(code[len("result: "):]), reply[len("reply: "):]

    def counts(self):
        """(threads, handles) of the host process once its threads have settled."""
        threads, handles = self._ask("counts", 30).split("\t")
        return int(threads.split(": ")[1]), int(handles.split(": ")[1])

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=30)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()
        self.errors.close()
