"""The worker's ONNX path against a stand-in sherpa_onnx module that records its calls."""

import json
import os
import tempfile
import unittest
from pathlib import Path

from worker_helpers import (PYTHON, WORKER, LineProcess, start_worker, tone, worker_env,
                            write_wav)

ONNX = b"\x08\x07\x12\x04fake"  # begins like a real ONNX protobuf
ERROR_PAGE = b"<!DOCTYPE html><html><body>404 Not Found</body></html>"
TOKENS = "<blk> 0\n▁a 1\n"

GIGAAM = {"encoder.int8.onnx": ONNX, "decoder.onnx": ONNX, "joiner.onnx": ONNX,
          "tokens.txt": TOKENS}
PARAKEET = {"encoder.int8.onnx": ONNX, "decoder.int8.onnx": ONNX, "joiner.int8.onnx": ONNX,
            "tokens.txt": TOKENS}
WHISPER = {"small-encoder.int8.onnx": ONNX, "small-encoder.onnx": ONNX,
           "small-decoder.int8.onnx": ONNX, "small-tokens.txt": TOKENS}


class SherpaWorkerTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)
        self.log = self.dir / "stub.jsonl"
        self.workers = []

    def tearDown(self):
        for w in self.workers:
            w.close()
        self.tmp.cleanup()

    def model(self, name, files):
        folder = self.dir / name
        folder.mkdir()
        for file_name, content in files.items():
            data = content.encode("utf-8") if isinstance(content, str) else content
            (folder / file_name).write_bytes(data)
        return folder

    def start(self, folder, model_type, language="", **env):
        extra = {"SHERPA_STUB_LOG": str(self.log)}
        extra.update(env)
        worker = start_worker(folder, model_type, language,
                              env=worker_env(with_sherpa_stub=True, extra=extra),
                              stderr_path=self.dir / "stderr.log")
        self.workers.append(worker)
        return worker

    def calls(self, kind):
        if not self.log.exists():
            return []
        entries = [json.loads(l) for l in self.log.read_text().splitlines()]
        return [e for e in entries if e["call"] == kind]

    def wav(self, name, samples):
        path = self.dir / name
        write_wav(path, samples)
        return path

    def expect_fatal(self, worker, *fragments):
        reply = worker.read_json()
        self.assertIn("fatal", reply)
        for fragment in fragments:
            self.assertIn(fragment, reply["fatal"])
        self.assertNotEqual(worker.wait(10), 0)
        self.assertIsNone(worker.read_line(1), "nothing may follow the fatal line")

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
                worker = self.start(folder, "nemo", "ru")
                self.assertEqual(worker.read_json(), {"ready": True})
                args = self.calls("from_transducer")[-1]["kwargs"]
                self.assertEqual(args["model_type"], "nemo_transducer")
                self.assertEqual([args[k] for k in ("encoder", "decoder", "joiner", "tokens")],
                                 [str(folder / f) for f in expected + ["tokens.txt"]])

    def test_transducer_reply_is_stripped_and_samples_are_scaled(self):
        worker = self.start(self.model("gigaam", GIGAAM), "nemo", "ru",
                            SHERPA_STUB_TEXT="  привет мир ")
        self.assertEqual(worker.read_json(), {"ready": True})
        worker.send_line('{"id":4,"wav":"%s"}' % self.wav("a.wav", tone(2.0, amplitude=0.5)))
        line = worker.read_line()
        self.assertEqual(line, '{"id":4,"text":"привет мир"}'.encode("utf-8"))
        decode = self.calls("decode")[-1]
        self.assertEqual((decode["rate"], decode["samples"]), (16000, 32000))
        self.assertAlmostEqual(decode["peak"], 0.5, places=3)

    def test_missing_or_damaged_model_files_are_fatal(self):
        cases = {
            "no tokens": ("nemo", {k: v for k, v in GIGAAM.items() if k != "tokens.txt"},
                          ["tokens.txt", "missing"]),
            "no joiner": ("nemo", {k: v for k, v in PARAKEET.items() if "joiner" not in k},
                          ["joiner", "missing"]),
            "decoder is an error page": ("nemo", dict(GIGAAM, **{"decoder.onnx": ERROR_PAGE}),
                                         ["decoder", "damaged"]),
            "tokens is an error page": ("nemo", dict(GIGAAM, **{"tokens.txt": ERROR_PAGE}),
                                        ["tokens.txt", "damaged"]),
            "whisper without decoder": ("whisper", {k: v for k, v in WHISPER.items()
                                                    if "decoder" not in k}, ["decoder", "missing"]),
        }
        for n, (name, (model_type, files, fragments)) in enumerate(cases.items()):
            with self.subTest(name):
                worker = self.start(self.model("bad%d" % n, files), model_type)
                self.expect_fatal(worker, *fragments)
        self.assertEqual(self.calls("from_transducer") + self.calls("from_whisper"), [])

    def test_missing_or_old_sherpa_module_is_fatal_with_install_hint(self):
        folder = self.model("gigaam", GIGAAM)
        no_module = start_worker(folder, "nemo", "ru", env=worker_env())
        self.workers.append(no_module)
        self.expect_fatal(no_module, "sherpa_onnx", "pip install", "sherpa-onnx>=1.12.14")
        old = self.start(folder, "whisper", "", SHERPA_STUB_VERSION="1.10.2")
        self.expect_fatal(old, "1.10.2", "--upgrade")

    def test_whisper_files_and_language(self):
        folder = self.model("whisper", WHISPER)
        # Unknown codes must never reach the module: it would end the process.
        cases = [("ru", "ru"), ("", ""), ("EN", "en"), ("pt-BR", "pt"), ("xx", ""), ("yue", "yue")]
        for language, expected in cases:
            with self.subTest(language=language):
                worker = self.start(folder, "whisper", language)
                self.assertEqual(worker.read_json(), {"ready": True})
                args = self.calls("from_whisper")[-1]["kwargs"]
                self.assertEqual(args["language"], expected)
                self.assertEqual(args["task"], "transcribe")
                self.assertEqual((args["encoder"], args["decoder"], args["tokens"]),
                                 tuple(str(folder / f) for f in (
                                     "small-encoder.int8.onnx", "small-decoder.int8.onnx",
                                     "small-tokens.txt")))

    def test_long_whisper_audio_is_decoded_in_chunks_cut_in_pauses(self):
        # 70 s of tone with pauses around 25 s and 50 s.
        samples = tone(24.5) + [0.0] * 16000 + tone(24.5) + [0.0] * 16000 + tone(19.0)
        worker = self.start(self.model("whisper", WHISPER), "whisper", "en",
                            SHERPA_STUB_TEXT=" part{n}")
        self.assertEqual(worker.read_json(), {"ready": True})
        reply = worker.request(9, self.wav("long.wav", samples))
        self.assertEqual(reply, {"id": 9, "text": "part1 part2 part3"})
        decodes = self.calls("decode")
        self.assertEqual([d["dropped"] for d in decodes], [0, 0, 0])
        self.assertEqual(sum(d["samples"] for d in decodes), len(samples))
        first, second = decodes[0]["samples"], decodes[1]["samples"]
        self.assertTrue(24.5 * 16000 <= first <= 25.5 * 16000, first)
        self.assertTrue(49.5 * 16000 <= first + second <= 50.5 * 16000, second)

    def test_short_whisper_audio_is_one_decode(self):
        worker = self.start(self.model("whisper", WHISPER), "whisper", "")
        self.assertEqual(worker.read_json(), {"ready": True})
        self.assertEqual(worker.request(1, self.wav("short.wav", tone(28.5))),
                         {"id": 1, "text": "stub words"})
        self.assertEqual([d["samples"] for d in self.calls("decode")], [28.5 * 16000])


class StartupFailureTest(unittest.TestCase):
    """Start-up problems end in one fatal line and a non-zero exit."""

    def test_fatal_start_ups(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = Path(tmp)
            # A copy of the English model without its dictionary.
            partial = tmp / "en-us"
            partial.mkdir()
            source = Path("/usr/share/pocketsphinx/model/en-us")
            for entry in source.iterdir():
                if not entry.name.endswith(".dict"):
                    os.symlink(entry, partial / entry.name)
            # A pocketsphinx module that cannot be imported.
            broken = tmp / "broken" / "pocketsphinx"
            broken.mkdir(parents=True)
            (broken / "__init__.py").write_text("raise ImportError('no engine')\n")
            broken_env = worker_env(extra={"PYTHONPATH": str(broken.parent)})
            cases = [
                ("unknown type", [str(source), "kaldi", ""], None, ["unknown model type"]),
                ("missing folder", [str(tmp / "none"), "pocketsphinx", ""], None,
                 ["model folder not found"]),
                ("no dictionary", [str(partial), "pocketsphinx", "en"], None, [".dict", "missing"]),
                ("no pocketsphinx", [str(source), "pocketsphinx", "en"], broken_env,
                 ["apt-get install python3-pocketsphinx"]),
            ]
            for name, (folder, model_type, language), env, fragments in cases:
                with self.subTest(name):
                    worker = start_worker(folder, model_type, language, env=env)
                    try:
                        reply = worker.read_json()
                        for fragment in fragments:
                            self.assertIn(fragment, reply.get("fatal", ""))
                        self.assertEqual(worker.wait(10), 1)
                    finally:
                        worker.close()

    def test_bad_command_line_is_fatal(self):
        for argv in (["--model-type", "nemo"], ["--model-dir", "/x", "--model-type"],
                     ["--model-dir", "/x", "--model-type", "nemo", "--extra", "1"]):
            with self.subTest(argv=argv):
                worker = LineProcess([PYTHON, str(WORKER)] + argv, env=worker_env())
                try:
                    self.assertIn("fatal", worker.read_json())
                    self.assertEqual(worker.wait(10), 1)
                finally:
                    worker.close()


if __name__ == "__main__":
    unittest.main()
