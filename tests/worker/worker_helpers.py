# Shared pieces for the worker tests: paths, a line-reading child process, WAV files.

import contextlib
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
SHERPA_STUB = REPO / "tests" / "fixtures" / "sherpa_stub"
PYTHON = "/usr/bin/python3"
POCKETSPHINX_MODEL = "/usr/share/pocketsphinx/model/en-us"


# A child process spoken to in lines, with time limits on every read.
class LineProcess:
    def __init__(self, argv, env=None, stderr_path=os.devnull):
        self._stderr = open(stderr_path, "wb")
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self._stderr, env=env)
        self._buf = b""

    # The next line without its line feed; None on timeout or end of file.
    def read_line(self, timeout=30.0):
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                return None
            data = os.read(self.proc.stdout.fileno(), 1 << 20)
            if not data:
                return None
            self._buf += data
        line, self._buf = self._buf.split(b"\n", 1)
        return line

    def read_json(self, timeout=30.0):
        line = self.read_line(timeout)
        assert line is not None, "no line from the process within %.0f s" % timeout
        return json.loads(line)

    def send_line(self, text):
        self.proc.stdin.write(text.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def request(self, request_id, wav):
        self.send_line(json.dumps({"id": request_id, "wav": str(wav)}, separators=(",", ":")))
        return self.read_json()

    def close(self):
        with contextlib.suppress(OSError):  # the child may be gone, and the pipe's reader with it
            self.proc.stdin.close()
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


def worker_args(model_dir, model_type, language=""):
    return ["--model-dir", str(model_dir), "--model-type", model_type, "--language", language]


def spawn_worker(argv, env=None, stderr_path=os.devnull):
    return LineProcess([PYTHON, str(WORKER)] + argv,
                       env=env if env is not None else worker_env(), stderr_path=stderr_path)


# 16-bit mono 16 kHz WAV from float samples in -1..1.
def write_wav(path, samples):
    with wave.open(str(path), "wb") as w:
        w.setparams((1, 2, 16000, 0, "NONE", "not compressed"))
        w.writeframes(b"".join(
            max(-32767, min(32767, round(s * 32767))).to_bytes(2, "little", signed=True)
            for s in samples))


# A 440 Hz sine of amplitude 0.5 at 16 kHz.
def tone(seconds):
    return [0.5 * math.sin(2 * math.pi * 440 * i / 16000) for i in range(int(seconds * 16000))]

