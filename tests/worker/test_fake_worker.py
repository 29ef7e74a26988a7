"""The scriptable fake worker does what its options say (client tests rely on it)."""

import json
import tempfile
import time
import unittest
from pathlib import Path

from worker_helpers import FAKE_WORKER, PYTHON, LineProcess, worker_env


class FakeWorkerTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            p.close()
        self.tmp.cleanup()

    def start(self, *options, env=None):
        argv = [PYTHON, str(FAKE_WORKER), "--model-dir", str(self.dir), "--model-type", "nemo",
                "--language", "ru"] + list(options)
        proc = LineProcess(argv, env=worker_env(extra=env))
        self.procs.append(proc)
        return proc

    def started(self, *options, env=None):
        proc = self.start(*options, env=env)
        self.assertEqual(proc.read_json(10), {"ready": True})
        return proc

    def wav_with_text(self, name, text):
        wav = self.dir / (name + ".wav")
        wav.write_bytes(b"RIFF")
        (self.dir / (name + ".txt")).write_text(text + "\n", encoding="utf-8")
        return wav

    def test_ready_delay_from_environment(self):
        begun = time.monotonic()
        proc = self.start(env={"FAKE_WORKER_READY_DELAY": "0.5"})
        self.assertEqual(proc.read_json(10), {"ready": True})
        self.assertGreaterEqual(time.monotonic() - begun, 0.5)

    def test_reply_text_comes_from_the_file_beside_the_wav_or_the_default(self):
        proc = self.started("--text", "default {id}")
        self.assertEqual(proc.request(1, self.wav_with_text("a", "привет")),
                         {"id": 1, "text": "привет"})
        self.assertEqual(proc.request(2, self.dir / "b.wav"), {"id": 2, "text": "default 2"})

    def test_reply_shapes(self):
        cases = {
            "--omit-text": [{"id": 5}],
            "--stray-before": [{"id": 1005, "text": "stray"}, {"id": 5, "text": "t"}],
            "--repeat-reply": [{"id": 5, "text": "t"}, {"id": 5, "text": "t"}],
            "--wrong-id": [{"id": 1005, "text": "t"}],
        }
        for option, expected in cases.items():
            with self.subTest(option):
                proc = self.started(option, "--text", "t")
                proc.send_line('{"id":5,"wav":"/none.wav"}')
                self.assertEqual([proc.read_json(5) for _ in expected], expected)
                self.assertIsNone(proc.read_line(0.3))

    def test_split_writes_arrive_as_separate_chunks(self):
        proc = self.start("--split-writes", "4")
        self.assertEqual(proc.read_json(10), {"ready": True})
        self.assertGreaterEqual(proc.chunks, 2)

    def test_garbage_lines_are_not_json_objects(self):
        proc = self.start("--garbage")
        lines = []
        while True:
            line = proc.read_line(10)
            if line == b'{"ready":true}':
                break
            lines.append(line)
        self.assertGreaterEqual(len(lines), 4)
        for line in lines:
            try:
                self.assertNotIsInstance(json.loads(line), dict)
            except ValueError:
                pass  # not JSON at all, which is the point

    def test_flood_without_line_feeds_precedes_the_reply(self):
        proc = self.started("--flood", str(2 * 1024 * 1024))
        proc.send_line('{"id":1,"wav":"/none.wav"}')
        line = proc.read_line(20)
        self.assertEqual(len(line), 2 * 1024 * 1024 + len('{"id":1,"text":""}'))
        self.assertTrue(line.endswith(b'{"id":1,"text":""}'))

    def test_faults(self):
        request = '{"id":1,"wav":"/none.wav"}'
        fatal = self.started("--fatal-on", "1")
        fatal.send_line(request)
        self.assertEqual(fatal.read_json(5), {"fatal": "fake fatal"})
        self.assertEqual(fatal.wait(5), 1)

        dying = self.started("--die-after", "1", "--exit-code", "7")
        self.assertEqual(dying.request(1, "/none.wav", 5), {"id": 1, "text": ""})
        dying.send_line(request.replace('"id":1', '"id":2'))
        self.assertIsNone(dying.read_line(5))
        self.assertEqual(dying.wait(5), 7)

        hanging = self.started("--hang")
        hanging.send_line(request)
        self.assertIsNone(hanging.read_line(0.5))
        self.assertIsNone(hanging.proc.poll())

        at_start = self.start("--fatal-at-start", "no model")
        self.assertEqual(at_start.read_json(5), {"fatal": "no model"})
        self.assertEqual(at_start.wait(5), 1)

    def test_bad_request_line_is_reported_and_everything_is_recorded(self):
        record = self.dir / "record.jsonl"
        proc = self.started("--record", str(record))
        proc.send_line('{"id": 1, "wav": "/x.wav"}')
        self.assertIn("bad request line", proc.read_json(5)["fatal"])
        proc.proc.stdin.close()
        self.assertEqual(proc.wait(5), 0)
        events = [json.loads(l) for l in record.read_text().splitlines()]
        self.assertEqual([e["event"] for e in events], ["start", "request", "exit"])
        self.assertEqual(events[0]["argv"][:2], ["--model-dir", str(self.dir)])
        self.assertEqual(events[1]["line"], '{"id": 1, "wav": "/x.wav"}')


if __name__ == "__main__":
    unittest.main()
