#!/usr/bin/env python3
"""Builds the factory coefficient sets carried in the page bundle.

Generates the synthetic cabinet responses (synthetic_cabinets.py), converts
each one with the program's own "convert" control command through its bridge
console, and writes the coefficient files exactly as the conversion produced
them, with index.json, into the output folder.

Usage: build_factory_sets.py --program BUILD/kx5-editor [--out FOLDER] [--wav FOLDER]

--out defaults to resources/bundle/html/data/factory of this checkout; --wav
keeps the generated WAV files there (by default they live in a temporary
folder that is removed afterwards).
"""
import argparse
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

# No byte-code files in the source tree when tests run this script.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synthetic_cabinets  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_OUT = os.path.join(ROOT, "resources", "bundle", "html", "data", "factory")
COEFFICIENT_BYTES = 13416
TAP_VALUES = 1640
NAME_LENGTH = 32
CONVERSION_LIMIT_SECONDS = 120


class ConsoleError(RuntimeError):
    pass


class Console:
    """The program's bridge console with a private home and temporary folder."""

    def __init__(self, program: str, home: str):
        env = dict(os.environ)
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"), TMPDIR=home)
        self.proc = subprocess.Popen([program, "--console", "--no-simulated-unit"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env, text=True,
                                     encoding="utf-8", cwd=home)

    def send(self, call: list) -> None:
        try:
            self.proc.stdin.write(json.dumps(call) + "\n")
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise ConsoleError("the program's console ended unexpectedly") from None

    def line(self) -> dict:
        text = self.proc.stdout.readline()
        if not text:
            raise ConsoleError("the program's console ended unexpectedly")
        try:
            return json.loads(text)
        except ValueError:
            return {}

    def call(self, name: str, *args) -> str:
        self.send([name, *args])
        while True:
            out = self.line()
            if "r" in out:
                return out["r"]

    def command_event(self, word: str, deadline: float) -> dict:
        """Waits for the next "app" "command" event of word; answers its JSON."""
        prefix = "app\fcommand\f" + word + "\f"
        while time.monotonic() < deadline:
            # Events print while the console waits; the marker call's result
            # line ends each wait.
            self.send(["wait", 20])
            self.send(["$$util_bytes", ""])
            while True:
                out = self.line()
                if "r" in out:
                    break
                text = out.get("e", "")
                if text.startswith(prefix):
                    return json.loads(text[len(prefix):])
        raise ConsoleError(f'no "{word}" answer in time')

    def convert(self, wav: str) -> str:
        """Converts wav; answers the path of the coefficient file."""
        deadline = time.monotonic() + CONVERSION_LIMIT_SECONDS
        request = "convert:" + json.dumps({"path": wav, "ch": 0}, separators=(",", ":"))
        result = self.call("$$app_control", request)
        if result.startswith("e"):
            raise ConsoleError(f"convert was refused: {result}")
        started = self.command_event("convert", deadline)
        if not started.get("result"):
            raise ConsoleError(f"{wav}: conversion did not start: {started}")
        done = self.command_event("convert", deadline)
        if done.get("load") != "finished" or not done.get("result") or not done.get("path"):
            raise ConsoleError(f"{wav}: conversion failed: {done}")
        return done["path"]

    def close(self) -> None:
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def check_coefficients(data: bytes, what: str) -> None:
    """Refuses a conversion result the unit could not use."""
    if len(data) != COEFFICIENT_BYTES:
        raise ValueError(f"{what}: {len(data)} bytes, expected {COEFFICIENT_BYTES}")
    values = struct.unpack(f"<{COEFFICIENT_BYTES // 4}f", data)
    if any(v != v or v in (float("inf"), float("-inf")) for v in values):
        raise ValueError(f"{what}: a value is not finite")
    if values[-1] != 1.0:
        raise ValueError(f"{what}: the last value is not 1.0")
    taps = sum(1 for v in values[:TAP_VALUES] if v != 0.0)
    # The tail analysis clears every tap of a response it cannot loop.
    if taps < TAP_VALUES // 2:
        raise ValueError(f"{what}: only {taps} non-zero taps")


def build(program: str, out: str, wav_folder: str) -> list:
    cabinets = synthetic_cabinets.write_all(wav_folder)
    for cab, _ in cabinets:
        if len(cab.name) > NAME_LENGTH or not cab.name.isascii():
            raise ValueError(f'slot name "{cab.name}" is not {NAME_LENGTH} ASCII characters at most')
    results = []
    with tempfile.TemporaryDirectory(prefix="kx5-factory-home-") as home:
        console = Console(program, home)
        try:
            for cab, wav in cabinets:
                path = console.convert(wav)
                with open(path, "rb") as f:
                    data = f.read()
                check_coefficients(data, os.path.basename(wav))
                results.append((cab, data))
        finally:
            console.close()

    os.makedirs(out, exist_ok=True)
    # A set removed from the list leaves no stale file behind.
    for name in os.listdir(out):
        if name.endswith(".coef"):
            os.remove(os.path.join(out, name))
    sets = []
    for number, (cab, data) in enumerate(results, start=1):
        coefficients = f"{number:02d}.coef"
        with open(os.path.join(out, coefficients), "wb") as f:
            f.write(data)
        sets.append({
            "name": cab.name,
            "file": synthetic_cabinets.file_name(cab),
            "coefficients": coefficients,
            "description": cab.description,
            "sha256": hashlib.sha256(data).hexdigest(),
        })
    index = {
        "note": "Synthetic cabinet responses made by resources/factory/synthetic_cabinets.py "
                "and converted by the program's own conversion (build_factory_sets.py).",
        "sets": sets,
    }
    with open(os.path.join(out, "index.json"), "w", encoding="utf-8", newline="\n") as f:
        json.dump(index, f, indent=2, ensure_ascii=True)
        f.write("\n")
    return sets


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--program", required=True, help="the built kx5-editor")
    parser.add_argument("--out", default=DEFAULT_OUT)
    parser.add_argument("--wav", help="keep the generated WAV files in this folder")
    args = parser.parse_args()
    # The console runs in its own folder: every path handed on is absolute.
    args.program = os.path.abspath(args.program)
    args.out = os.path.abspath(args.out)
    if args.wav:
        args.wav = os.path.abspath(args.wav)
    if not os.access(args.program, os.X_OK):
        print(f"build_factory_sets: {args.program} is not an executable", file=sys.stderr)
        return 2
    started = time.monotonic()
    try:
        if args.wav:
            sets = build(args.program, args.out, args.wav)
        else:
            with tempfile.TemporaryDirectory(prefix="kx5-factory-wav-") as wav:
                sets = build(args.program, args.out, wav)
    except (ConsoleError, ValueError, OSError) as e:
        print(f"build_factory_sets: {e}", file=sys.stderr)
        return 1
    print(f"build_factory_sets: {len(sets)} sets in {args.out} "
          f"({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
