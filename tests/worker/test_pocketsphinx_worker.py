# The real worker with Debian's English recogniser, spoken to through its line protocol.

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from worker_helpers import POCKETSPHINX_MODEL, spawn_worker, worker_args, write_wav

# Recognised word for word: the tests below expect the exact text back.
SENTENCES = [
    "the quick brown fox jumps over the lazy dog",
    "please call me back when you get home",
    "the weather today is cold and windy",
]


# flite speech converted to 16 kHz mono 16-bit, the format the client writes.
def speak(text, path):
    raw = str(path) + ".flite.wav"
    subprocess.run(["flite", "-voice", "kal16", "-t", text, "-o", raw], check=True)
    subprocess.run(["sox", raw, "-r", "16000", "-c", "1", "-b", "16", str(path)], check=True)
    os.remove(raw)


class PocketsphinxWorkerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("flite", "sox"):
            if shutil.which(tool) is None:
                raise AssertionError("%s is missing: run scripts/bootstrap" % tool)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = Path(cls.tmp.name)
        cls.wavs = [cls.dir / ("s%d.wav" % i) for i in range(len(SENTENCES))]
        for text, path in zip(SENTENCES, cls.wavs):
            speak(text, path)
        cls.worker = spawn_worker(worker_args(POCKETSPHINX_MODEL, "pocketsphinx", "en"),
                                  stderr_path=cls.dir / "stderr.log")
        cls.ready = cls.worker.read_line(60)

    @classmethod
    def tearDownClass(cls):
        cls.worker.close()
        cls.tmp.cleanup()

    def test_bad_requests_get_empty_text_or_are_skipped_and_the_worker_keeps_serving(self):
        self.assertEqual(self.ready, b'{"ready":true}')
        for line in ("not json", "[1,2]", '{"wav":"x.wav"}', ""):
            self.worker.send_line(line)  # unreadable request lines get no reply
        garbage = self.dir / "garbage.wav"
        garbage.write_bytes(b"this is not audio" * 100)
        truncated = self.dir / "truncated.wav"
        truncated.write_bytes(self.wavs[0].read_bytes()[:30])
        empty = self.dir / "empty.wav"
        write_wav(empty, [])
        cases = [("missing file", self.dir / "absent.wav"), ("not a WAV", garbage),
                 ("cut inside the header", truncated), ("a folder", self.dir),
                 ("no samples", empty), ("empty path", "")]
        for n, (name, wav) in enumerate(cases):
            with self.subTest(name):
                self.assertEqual(self.worker.request(200 + n, wav), {"id": 200 + n, "text": ""})
        self.assertEqual(self.worker.request(299, self.wavs[1]), {"id": 299, "text": SENTENCES[1]})

    def test_other_formats_are_converted_and_request_paths_are_taken_as_written(self):
        # The converted files lie in folders that "\\t" or quotes would garble if the request line
        # were taken for escaped JSON.
        formats = {'back\\slash "quoted"': ["-r", "44100", "-c", "2"],  # 44.1 kHz stereo
                   "a\\tb": ["-r", "22050", "-b", "8", "-e", "unsigned-integer"]}  # 8-bit unsigned
        for n, (folder, options) in enumerate(formats.items()):
            with self.subTest(folder):
                wav = self.dir / folder / "req_7.wav"
                wav.parent.mkdir()
                subprocess.run(["sox", str(self.wavs[1])] + options + [str(wav)], check=True)
                self.worker.send_line('{"id":%d,"wav":"%s"}' % (300 + n, wav))
                self.assertEqual(self.worker.read_json(), {"id": 300 + n, "text": SENTENCES[1]})


if __name__ == "__main__":
    unittest.main()
