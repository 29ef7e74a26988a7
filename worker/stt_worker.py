#!/usr/bin/python3
"""Speech-to-text worker: loads one model and answers recognition requests.

Command line:
    stt_worker.py --model-dir DIR --model-type TYPE --language CODE

TYPE is "pocketsphinx" (Debian's offline English recogniser), "nemo"
(a transducer through sherpa_onnx) or "whisper" (Whisper through sherpa_onnx).
CODE may be empty.

Protocol (one JSON object per line, UTF-8):
    stdout  {"ready":true}                once the model is loaded
    stdout  {"fatal":"reason"}            the worker cannot go on; it exits
    stdin   {"id":7,"wav":"/path/req_7.wav"}
    stdout  {"id":7,"text":"recognised text"}

An unreadable WAV gets an empty text and the worker keeps serving. Diagnostics
go to stderr only: stdout carries nothing but protocol lines, so native
libraries that print to file descriptor 1 are redirected to stderr.
"""

import array
import glob
import json
import os
import re
import sys
import time
import wave

SAMPLE_RATE = 16000
SHERPA_MIN_VERSION = (1, 12, 14)
# Whisper sees at most 30 s per pass; cut a little earlier, at a quiet spot.
WHISPER_MAX_CHUNK = 29 * SAMPLE_RATE
WHISPER_MIN_CHUNK = 20 * SAMPLE_RATE
QUIET_WINDOW = SAMPLE_RATE // 10

# Language codes Whisper knows; any other code makes sherpa_onnx end the process.
WHISPER_LANGUAGES = frozenset("""
en zh de es ru ko fr ja pt tr pl ca nl ar sv it id hi fi vi he uk el ms cs ro
da hu ta no th ur hr bg lt la mi ml cy sk te fa lv bn sr az sl kn et mk br eu
is hy ne mn bs kk sq sw gl mr pa si km sn yo so af oc ka be tg sd gu am yi lo
uz fo ht ps tk nn mt sa lb my bo tl mg as tt haw ln ha ba jw su yue
""".split())

POCKETSPHINX_PACKAGES = "python3-pocketsphinx pocketsphinx-en-us"


class FatalError(Exception):
    """A problem that stops the worker; its text goes into the fatal line."""


# ---------------------------------------------------------------- output

class ProtocolOutput:
    """Writes protocol lines to a private duplicate of the original stdout."""

    def __init__(self):
        sys.stdout.flush()
        self._fd = os.dup(1)
        # Anything else that writes to fd 1 (C libraries, stray prints) lands in stderr.
        os.dup2(2, 1)
        sys.stdout = sys.stderr

    def send(self, obj):
        line = json.dumps(obj, ensure_ascii=False, separators=(",", ":")) + "\n"
        data = line.encode("utf-8", "replace")
        while data:
            written = os.write(self._fd, data)
            data = data[written:]


def log(message):
    stamp = time.strftime("%H:%M:%S")
    sys.stderr.write("%s stt_worker: %s\n" % (stamp, message))
    sys.stderr.flush()


# ---------------------------------------------------------------- audio

def read_wav(path):
    """Returns 16 kHz mono signed 16-bit samples (array 'h'); raises on bad files."""
    with wave.open(path, "rb") as w:
        channels = w.getnchannels()
        width = w.getsampwidth()
        rate = w.getframerate()
        frames = w.readframes(w.getnframes())
    samples = pcm_to_int16(frames, width)
    if channels > 1:
        samples = mix_to_mono(samples, channels)
    if rate != SAMPLE_RATE:
        samples = resample(samples, rate)
    return samples


def pcm_to_int16(frames, width):
    if width == 2:
        samples = array.array("h")
        samples.frombytes(frames[: len(frames) - len(frames) % 2])
        if sys.byteorder == "big":
            samples.byteswap()
        return samples
    if width == 1:  # unsigned 8-bit
        return array.array("h", ((b - 128) << 8 for b in frames))
    if width in (3, 4):  # keep the top 16 bits of each little-endian value
        return array.array("h", (
            int.from_bytes(frames[i + width - 2:i + width], "little", signed=True)
            for i in range(0, len(frames) - width + 1, width)))
    raise ValueError("unsupported sample width %d" % width)


def mix_to_mono(samples, channels):
    count = len(samples) // channels
    return array.array("h", (
        sum(samples[i * channels:(i + 1) * channels]) // channels
        for i in range(count)))


def resample(samples, rate):
    """Linear interpolation to 16 kHz; recordings in other formats are rare."""
    if rate <= 0 or not samples:
        return array.array("h")
    count = int(len(samples) * SAMPLE_RATE / rate)
    last = len(samples) - 1
    step = rate / SAMPLE_RATE
    out = array.array("h", bytes(2 * count))
    for i in range(count):
        pos = i * step
        left = int(pos)
        right = min(left + 1, last)
        frac = pos - left
        out[i] = int(round(samples[left] * (1.0 - frac) + samples[right] * frac))
    return out


def to_float(samples):
    return array.array("f", (s / 32768.0 for s in samples))


def whisper_chunks(samples):
    """Splits audio into pieces Whisper can take whole, cutting at quiet spots."""
    start = 0
    total = len(samples)
    while total - start > WHISPER_MAX_CHUNK:
        cut = quietest_point(samples, start + WHISPER_MIN_CHUNK,
                             start + WHISPER_MAX_CHUNK)
        yield samples[start:cut]
        start = cut
    if start < total:
        yield samples[start:]


def quietest_point(samples, lo, hi):
    best, best_energy = hi, None
    for pos in range(lo, hi - QUIET_WINDOW + 1, QUIET_WINDOW):
        energy = sum(abs(s) for s in samples[pos:pos + QUIET_WINDOW])
        if best_energy is None or energy < best_energy:
            best, best_energy = pos + QUIET_WINDOW // 2, energy
    return best


# ---------------------------------------------------------------- model files

def looks_like_onnx(path):
    """A failed download leaves an error page under the model's name; ONNX
    files are protobufs that begin with the ir_version field (tag 0x08)."""
    try:
        with open(path, "rb") as f:
            return f.read(1) == b"\x08"
    except OSError:
        return False


def looks_like_tokens(path):
    try:
        with open(path, "r", encoding="utf-8") as f:
            first = f.readline().rstrip("\r\n")
    except (OSError, UnicodeDecodeError):
        return False
    return first.rsplit(" ", 1)[-1].isdigit()


def pick_file(model_dir, names, check):
    """First usable file among names; FatalError naming what is missing or broken."""
    present = [n for n in names if os.path.isfile(os.path.join(model_dir, n))]
    for name in present:
        path = os.path.join(model_dir, name)
        if check(path):
            return path
    wanted = " or ".join(names)
    if present:
        raise FatalError("model file %s in %s is damaged (incomplete download?)"
                         % (wanted, model_dir))
    raise FatalError("model file %s is missing in %s" % (wanted, model_dir))


def glob_names(model_dir, pattern):
    found = glob.glob(os.path.join(glob.escape(model_dir), pattern))
    # int8 files first: they are what the published archives ship and load faster.
    found.sort(key=lambda p: (".int8." not in os.path.basename(p), p))
    return [os.path.basename(p) for p in found]


def transducer_files(model_dir):
    return {
        "encoder": pick_file(model_dir, ["encoder.int8.onnx", "encoder.onnx"], looks_like_onnx),
        "decoder": pick_file(model_dir, ["decoder.int8.onnx", "decoder.onnx"], looks_like_onnx),
        "joiner": pick_file(model_dir, ["joiner.int8.onnx", "joiner.onnx"], looks_like_onnx),
        "tokens": pick_file(model_dir, ["tokens.txt"], looks_like_tokens),
    }


def whisper_files(model_dir):
    def one(pattern, check):
        # Archives name their files after the model ("small-encoder.int8.onnx").
        names = glob_names(model_dir, pattern) or [pattern]
        return pick_file(model_dir, names, check)
    return {
        "encoder": one("*-encoder*.onnx", looks_like_onnx),
        "decoder": one("*-decoder*.onnx", looks_like_onnx),
        "tokens": one("*-tokens.txt", looks_like_tokens),
    }


def whisper_language(code):
    """Normalises a language code; unknown codes fall back to detection,
    because handing them to Whisper would end the process."""
    norm = re.split(r"[-_]", code.strip().lower(), maxsplit=1)[0]
    if norm == "" or norm in WHISPER_LANGUAGES:
        return norm
    log("language %r is not a Whisper language; detecting it instead" % code)
    return ""


# ---------------------------------------------------------------- recognisers

class PocketsphinxRecognizer:
    def __init__(self, model_dir, language):
        try:
            from pocketsphinx import Decoder
        except ImportError as e:
            raise FatalError("pocketsphinx is not installed (%s): apt-get install %s"
                             % (e, POCKETSPHINX_PACKAGES))
        if language and not language.lower().startswith("en"):
            log("pocketsphinx recognises English only; language %r ignored" % language)
        hmm, lm, dictionary = self.model_files(model_dir)
        config = Decoder.default_config()
        config.set_string("-hmm", hmm)
        config.set_string("-lm", lm)
        config.set_string("-dict", dictionary)
        config.set_string("-logfn", os.devnull)
        self.decoder = Decoder(config)

    @staticmethod
    def model_files(model_dir):
        hmms = sorted(os.path.dirname(p) for p in
                      glob.glob(os.path.join(glob.escape(model_dir), "*", "mdef")))
        if not hmms:
            raise FatalError("acoustic model (a folder with mdef) is missing in %s: "
                             "apt-get install pocketsphinx-en-us" % model_dir)
        lms = [n for n in glob_names(model_dir, "*.lm.bin") if "phone" not in n]
        if not lms:
            raise FatalError("language model *.lm.bin is missing in %s" % model_dir)
        dicts = glob_names(model_dir, "*.dict")
        if not dicts:
            raise FatalError("pronunciation dictionary *.dict is missing in %s" % model_dir)
        return hmms[0], os.path.join(model_dir, lms[0]), os.path.join(model_dir, dicts[0])

    def recognize(self, samples):
        if sys.byteorder == "big":
            samples = array.array("h", samples)
            samples.byteswap()
        self.decoder.start_utt()
        self.decoder.process_raw(samples.tobytes(), False, True)
        self.decoder.end_utt()
        hyp = self.decoder.hyp()
        return hyp.hypstr if hyp is not None else ""


def import_sherpa():
    try:
        import sherpa_onnx
    except ImportError as e:
        raise FatalError("sherpa_onnx is not installed (%s): run %s -m pip install "
                         "'sherpa-onnx>=%s'" % (e, sys.executable, version_text(SHERPA_MIN_VERSION)))
    version = parse_version(getattr(sherpa_onnx, "__version__", ""))
    if version is not None and version < SHERPA_MIN_VERSION:
        raise FatalError("sherpa_onnx %s is too old: run %s -m pip install --upgrade "
                         "'sherpa-onnx>=%s'" % (sherpa_onnx.__version__, sys.executable,
                                                version_text(SHERPA_MIN_VERSION)))
    return sherpa_onnx


def parse_version(text):
    parts = re.findall(r"\d+", str(text))[:3]
    return tuple(int(p) for p in parts) if len(parts) == 3 else None


def version_text(version):
    return ".".join(str(v) for v in version)


def thread_count():
    return max(1, min(4, os.cpu_count() or 1))


class SherpaRecognizer:
    """Shared decoding for the sherpa_onnx families."""

    recognizer = None

    def decode(self, samples):
        stream = self.recognizer.create_stream()
        stream.accept_waveform(SAMPLE_RATE, to_float(samples))
        self.recognizer.decode_stream(stream)
        return stream.result.text.strip()


class NemoRecognizer(SherpaRecognizer):
    def __init__(self, model_dir, language):
        sherpa_onnx = import_sherpa()
        files = transducer_files(model_dir)
        # Without model_type sherpa_onnx picks a different transducer implementation.
        self.recognizer = sherpa_onnx.OfflineRecognizer.from_transducer(
            encoder=files["encoder"], decoder=files["decoder"], joiner=files["joiner"],
            tokens=files["tokens"], num_threads=thread_count(),
            sample_rate=SAMPLE_RATE, model_type="nemo_transducer")

    def recognize(self, samples):
        return self.decode(samples)


class WhisperRecognizer(SherpaRecognizer):
    def __init__(self, model_dir, language):
        sherpa_onnx = import_sherpa()
        files = whisper_files(model_dir)
        self.recognizer = sherpa_onnx.OfflineRecognizer.from_whisper(
            encoder=files["encoder"], decoder=files["decoder"], tokens=files["tokens"],
            language=whisper_language(language), task="transcribe",
            num_threads=thread_count())

    def recognize(self, samples):
        texts = (self.decode(chunk) for chunk in whisper_chunks(samples))
        return " ".join(t for t in texts if t)


RECOGNIZERS = {
    "pocketsphinx": PocketsphinxRecognizer,
    "nemo": NemoRecognizer,
    "whisper": WhisperRecognizer,
}


def load_recognizer(model_dir, model_type, language):
    factory = RECOGNIZERS.get(model_type)
    if factory is None:
        raise FatalError("unknown model type %r (expected one of: %s)"
                         % (model_type, ", ".join(sorted(RECOGNIZERS))))
    if not os.path.isdir(model_dir):
        raise FatalError("model folder not found: %s" % model_dir)
    try:
        return factory(model_dir, language)
    except FatalError:
        raise
    except Exception as e:  # loaders raise assorted errors for unusable models
        raise FatalError("cannot load the %s model in %s: %s" % (model_type, model_dir, e))


# ---------------------------------------------------------------- requests

RAW_REQUEST = re.compile(r'^\s*\{\s*"id"\s*:\s*(-?\d+)\s*,\s*"wav"\s*:\s*"(.*)"\s*\}\s*$')


def parse_request(line):
    """Returns (id, wav path) or None. The client may put the path into the
    line without JSON escaping, so a verbatim reading is tried as well."""
    raw = RAW_REQUEST.match(line)
    try:
        obj = json.loads(line)
    except ValueError:
        obj = None
    if isinstance(obj, dict) and type(obj.get("id")) is int:
        path = obj.get("wav") if isinstance(obj.get("wav"), str) else ""
        if raw and raw.group(2) != path and not os.path.exists(path) \
                and os.path.exists(raw.group(2)):
            path = raw.group(2)
        return obj["id"], path
    if raw:
        return int(raw.group(1)), raw.group(2)
    return None


def transcribe_file(recognizer, path):
    try:
        samples = read_wav(path)
    except (OSError, EOFError, ValueError, wave.Error) as e:
        log("cannot read %s: %s" % (path, e))
        return ""
    if not samples:
        return ""
    started = time.monotonic()
    try:
        text = recognizer.recognize(samples)
    except Exception as e:  # a failed decode must not end the worker
        log("recognition of %s failed: %r" % (path, e))
        return ""
    spent = time.monotonic() - started
    log("decoded %.2f s of audio in %.2f s" % (len(samples) / SAMPLE_RATE, spent))
    return text.strip()


def serve(recognizer, out, stdin):
    for raw_line in stdin:
        line = raw_line.decode("utf-8", "surrogateescape").strip()
        if not line:
            continue
        request = parse_request(line)
        if request is None:
            log("ignoring unreadable request line: %r" % line[:200])
            continue
        request_id, path = request
        out.send({"id": request_id, "text": transcribe_file(recognizer, path)})


# ---------------------------------------------------------------- main

def parse_args(argv):
    wanted = {"--model-dir": "model_dir", "--model-type": "model_type", "--language": "language"}
    values = {"model_dir": None, "model_type": None, "language": ""}
    i = 0
    while i < len(argv):
        key, _, inline = argv[i].partition("=")
        if key not in wanted:
            raise FatalError("unknown argument %r" % argv[i])
        if inline or argv[i].endswith("="):
            values[wanted[key]] = inline
            i += 1
        elif i + 1 < len(argv):
            values[wanted[key]] = argv[i + 1]
            i += 2
        else:
            raise FatalError("argument %s needs a value" % key)
    for key in ("model_dir", "model_type"):
        if values[key] is None:
            raise FatalError("missing argument --%s" % key.replace("_", "-"))
    return values


def main(argv):
    out = ProtocolOutput()
    try:
        args = parse_args(argv)
        started = time.monotonic()
        recognizer = load_recognizer(args["model_dir"], args["model_type"], args["language"])
        log("%s model from %s loaded in %.2f s" % (args["model_type"], args["model_dir"],
                                                    time.monotonic() - started))
    except FatalError as e:
        log("fatal: %s" % e)
        out.send({"fatal": str(e)})
        return 1
    out.send({"ready": True})
    try:
        serve(recognizer, out, sys.stdin.buffer)
    except BrokenPipeError:
        log("client closed the output pipe")  # the client is gone; nothing to answer
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
