# The worker's ONNX path against a stand-in sherpa_onnx module that records its calls, and the
# worker's start-up failures.

import json
import os
import tempfile
import unittest
from pathlib import Path

from worker_helpers import (POCKETSPHINX_MODEL, spawn_worker, tone, worker_args, worker_env,
                            write_wav)

ONNX = b"\x08\x07\x12\x04fake"  # begins like a real ONNX protobuf
ERROR_PAGE = b"<!DOCTYPE html><html><body>404 Not Found</body></html>"
TOKENS = "<blk> 0\n▁a 1\n".encode()

GIGAAM = {"encoder.int8.onnx": ONNX, "decoder.onnx": ONNX, "joiner.onnx": ONNX,
          "tokens.txt": TOKENS}
PARAKEET = {"encoder.int8.onnx": ONNX, "decoder.int8.onnx": ONNX, "joiner.int8.onnx": ONNX,
            "tokens.txt": TOKENS}
WHISPER = {"small-encoder.int8.onnx": ONNX, "small-encoder.onnx": ONNX,
           "small-decoder.int8.onnx": ONNX, "small-tokens.txt": TOKENS}


def without(files, fragment):
    return {k: v for k, v in files.items() if fragment not in k}


class SherpaWorkerTest(unittest.TestCase):
    def setUp(self):
        self.dir = Path(self.enterContext(tempfile.TemporaryDirectory()))
        self.log = self.dir / "stub.jsonl"

    def model(self, name, files):
        folder = self.dir / name
        folder.mkdir()
        for file_name, content in files.items():
            (folder / file_name).write_bytes(content)
        return folder

    # The environment that loads the stand-in module and logs its calls.
    def stub_env(self, **extra):
        return worker_env(with_sherpa_stub=True, extra=dict(extra, SHERPA_STUB_LOG=str(self.log)))

    def spawn(self, argv, env=None):
        worker = spawn_worker(argv, env or self.stub_env(), self.dir / "stderr.log")
        self.addCleanup(worker.close)
        return worker

    def start(self, folder, model_type, language="", **stub_env):
        worker = self.spawn(worker_args(folder, model_type, language), self.stub_env(**stub_env))
        self.assertEqual(worker.read_json(), {"ready": True})
        return worker

    def calls(self, kind):
        lines = self.log.read_text().splitlines() if self.log.exists() else []
        return [e for e in map(json.loads, lines) if e["call"] == kind]

    def wav(self, name, samples):
        write_wav(self.dir / name, samples)
        return self.dir / name

    def test_transducer_layouts_load_the_files_they_ship(self):
        cases = {
            "gigaam": (GIGAAM, ["encoder.int8.onnx", "decoder.onnx", "joiner.onnx"]),
            "parakeet": (PARAKEET, ["encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx"]),
            # A per-file download stores error pages under the names it could not fetch.
            "gigaam with error pages": (dict(GIGAAM, **{"decoder.int8.onnx": ERROR_PAGE,
                                                        "joiner.int8.onnx": ERROR_PAGE}),
                                        ["encoder.int8.onnx", "decoder.onnx", "joiner.onnx"]),
        }
        for n, (name, (files, expected)) in enumerate(cases.items()):
            with self.subTest(name):
                folder = self.model("m%d" % n, files)
                self.start(folder, "nemo", "ru")
                args = self.calls("from_transducer")[-1]["kwargs"]
                self.assertEqual(args["model_type"], "nemo_transducer")
                self.assertEqual([args[k] for k in ("encoder", "decoder", "joiner", "tokens")],
                                 [str(folder / f) for f in expected + ["tokens.txt"]])

    def test_transducer_reply_is_stripped_samples_are_scaled_and_end_of_input_ends_cleanly(self):
        worker = self.start(self.model("gigaam", GIGAAM), "nemo", "ru",
                            SHERPA_STUB_TEXT="  привет мир ")
        worker.send_line('{"id":4,"wav":"%s"}' % self.wav("a.wav", tone(2.0)))
        self.assertEqual(worker.read_line().decode(), '{"id":4,"text":"привет мир"}')
        decode = self.calls("decode")[-1]
        self.assertEqual((decode["rate"], decode["samples"]), (16000, 32000))
        self.assertAlmostEqual(decode["peak"], 0.5, places=3)
        worker.proc.stdin.close()
        self.assertEqual(worker.proc.wait(10), 0)
        self.assertIsNone(worker.read_line(1))

    def test_start_up_problems_end_in_one_fatal_line_and_exit_1(self):
        def bad(name, files, model_type="nemo"):
            return worker_args(self.model(name, files), model_type)

        partial = self.dir / "en-us"  # the English model without its dictionary
        partial.mkdir()
        english = Path(POCKETSPHINX_MODEL)
        for entry in english.iterdir():
            if not entry.name.endswith(".dict"):
                os.symlink(entry, partial / entry.name)
        broken = self.dir / "broken" / "pocketsphinx"  # a module that cannot be imported
        broken.mkdir(parents=True)
        (broken / "__init__.py").write_text("raise ImportError('no engine')\n")
        plain = worker_env()
        gigaam = worker_args(self.model("gigaam", GIGAAM), "nemo")
        cases = [
            ("no tokens", bad("a", without(GIGAAM, "tokens")), None, ["tokens.txt", "missing"]),
            ("decoder is an error page", bad("c", dict(GIGAAM, **{"decoder.onnx": ERROR_PAGE})),
             None, ["decoder", "damaged"]),
            ("tokens is an error page", bad("d", dict(GIGAAM, **{"tokens.txt": ERROR_PAGE})),
             None, ["tokens.txt", "damaged"]),
            ("whisper without decoder", bad("e", without(WHISPER, "decoder"), "whisper"), None,
             ["decoder", "missing"]),
            ("no sherpa_onnx", gigaam, plain,
             ["sherpa_onnx", "pip install", "sherpa-onnx>=1.12.14"]),
            ("old sherpa_onnx", gigaam, self.stub_env(SHERPA_STUB_VERSION="1.10.2"),
             ["1.10.2", "--upgrade"]),
            ("unknown type", worker_args(english, "kaldi"), plain, ["unknown model type"]),
            ("missing folder", worker_args(self.dir / "none", "pocketsphinx"), plain,
             ["model folder not found"]),
            ("no dictionary", worker_args(partial, "pocketsphinx"), plain, [".dict", "missing"]),
            ("no pocketsphinx", worker_args(english, "pocketsphinx", "en"),
             worker_env(extra={"PYTHONPATH": str(broken.parent)}),
             ["apt-get install python3-pocketsphinx"]),
            ("no model folder argument", ["--model-type", "nemo"], plain, []),
            ("option without its value", ["--model-dir", "/x", "--model-type"], plain, []),
            ("unknown option", worker_args("/x", "nemo") + ["--extra", "1"], plain, []),
        ]
        for name, argv, env, fragments in cases:
            with self.subTest(name):
                worker = self.spawn(argv, env)
                reply = worker.read_json()
                self.assertIn("fatal", reply)
                for fragment in fragments:
                    self.assertIn(fragment, reply["fatal"])
                self.assertEqual(worker.proc.wait(10), 1)
                self.assertIsNone(worker.read_line(1), "nothing may follow the fatal line")
        self.assertEqual(self.calls("from_transducer") + self.calls("from_whisper"), [])

    def test_whisper_files_and_language(self):
        folder = self.model("whisper", WHISPER)
        # Unknown codes must never reach the module: it would end the process.
        cases = [("ru", "ru"), ("", ""), ("EN", "en"), ("pt-BR", "pt"), ("xx", ""), ("yue", "yue")]
        for language, expected in cases:
            with self.subTest(language=language):
                self.start(folder, "whisper", language)
                args = self.calls("from_whisper")[-1]["kwargs"]
                self.assertEqual((args["language"], args["task"]), (expected, "transcribe"))
                self.assertEqual((args["encoder"], args["decoder"], args["tokens"]),
                                 tuple(str(folder / f) for f in (
                                     "small-encoder.int8.onnx", "small-decoder.int8.onnx",
                                     "small-tokens.txt")))

    def test_whisper_audio_longer_than_its_window_is_decoded_in_chunks_cut_in_pauses(self):
        worker = self.start(self.model("whisper", WHISPER), "whisper", "en",
                            SHERPA_STUB_TEXT=" part{n}")
        # Up to the 30 s window: one decode.
        self.assertEqual(worker.request(1, self.wav("short.wav", tone(28.5))),
                         {"id": 1, "text": "part1"})
        self.assertEqual([d["samples"] for d in self.calls("decode")], [28.5 * 16000])
        # 70 s of tone with pauses around 25 s and 50 s.
        samples = tone(24.5) + [0.0] * 16000 + tone(24.5) + [0.0] * 16000 + tone(19.0)
        reply = worker.request(9, self.wav("long.wav", samples))
        self.assertEqual(reply, {"id": 9, "text": "part2 part3 part4"})
        decodes = self.calls("decode")[1:]
        self.assertEqual([d["dropped"] for d in decodes], [0, 0, 0])
        self.assertEqual(sum(d["samples"] for d in decodes), len(samples))
        first, second = decodes[0]["samples"], decodes[1]["samples"]
        self.assertTrue(24.5 * 16000 <= first <= 25.5 * 16000, first)
        self.assertTrue(49.5 * 16000 <= first + second <= 50.5 * 16000, second)


if __name__ == "__main__":
    unittest.main()
