"""Shared pieces for the worker tests: paths, a line-reading child process, WAV files."""

import json
import math
import os
import select
import subprocess
import time
import wave
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WORKER = REPO / "worker" / "stt_worker.py"
FAKE_WORKER = REPO / "tests" / "fixtures" / "fake_worker.py"
SHERPA_STUB = REPO / "tests" / "fixtures" / "sherpa_stub"
PYTHON = "/usr/bin/python3"
POCKETSPHINX_MODEL = "/usr/share/pocketsphinx/model/en-us"


class LineProcess:
    """A child process spoken to in lines, with time limits on every read."""

    def __init__(self, argv, env=None, stderr_path=os.devnull):
        self._stderr = open(stderr_path, "wb")
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._stderr, env=env)
        self._buf = b""
        self.chunks = 0  # number of reads that returned data

    def read_chunk(self, timeout):
        """One read of the output; b"" at end of file; None when nothing came in time."""
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not ready:
            return None
        data = os.read(self.proc.stdout.fileno(), 1 << 20)
        if data:
            self.chunks += 1
        return data

    def read_line(self, timeout=30.0):
        """The next line without its line feed; None on timeout or end of file."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buf:
            left = deadline - time.monotonic()
            data = self.read_chunk(max(0.0, left)) if left > 0 else None
            if not data:
                return None
            self._buf += data
        line, self._buf = self._buf.split(b"\n", 1)
        return line

    def read_json(self, timeout=30.0):
        line = self.read_line(timeout)
        if line is None:
            raise AssertionError("no line from the process within %.0f s" % timeout)
        return json.loads(line)

    def send_line(self, text):
        data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else text
        self.proc.stdin.write(data + b"\n")
        self.proc.stdin.flush()

    def request(self, request_id, wav, timeout=30.0):
        self.send_line(json.dumps({"id": request_id, "wav": str(wav)}, separators=(",", ":")))
        return self.read_json(timeout)

    def wait(self, timeout=10.0):
        return self.proc.wait(timeout)

    def close(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass  # the child is gone and took the pipe's reader with it
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self._stderr.close()


def worker_env(with_sherpa_stub=False, extra=None):
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    if with_sherpa_stub:
        env["PYTHONPATH"] = str(SHERPA_STUB)
    env.update(extra or {})
    return env


def start_worker(model_dir, model_type, language="", env=None, stderr_path=os.devnull):
    argv = [PYTHON, str(WORKER), "--model-dir", str(model_dir),
            "--model-type", model_type, "--language", language]
    return LineProcess(argv, env=env if env is not None else worker_env(),
                       stderr_path=stderr_path)


def write_wav(path, samples, rate=16000):
    """16-bit mono WAV from float samples in -1..1."""
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(
            max(-32767, min(32767, int(round(s * 32767)))).to_bytes(2, "little", signed=True)
            for s in samples))


def tone(seconds, amplitude=0.5, freq=440.0, rate=16000):
    return [amplitude * math.sin(2 * math.pi * freq * i / rate)
            for i in range(int(seconds * rate))]


def word_errors(reference, hypothesis):
    """Word-level edit distance."""
    ref, hyp = reference.split(), hypothesis.split()
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        prev, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (r != h))
    return row[len(hyp)]
