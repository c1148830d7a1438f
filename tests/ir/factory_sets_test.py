#!/usr/bin/env python3
"""The factory sets in the bundle are exactly what the generator and the
built program's conversion produce today.

Environment: KX5_EDITOR (the built program), KX5_FACTORY_DIR (the committed
sets), KX5_FACTORY_BUILDER (resources/factory/build_factory_sets.py).
"""
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

EDITOR = os.environ.get("KX5_EDITOR", "")
COMMITTED = os.environ.get("KX5_FACTORY_DIR", "")
BUILDER = os.environ.get("KX5_FACTORY_BUILDER", "")


def run_builder(*args):
    return subprocess.run([sys.executable, BUILDER, *args], capture_output=True, text=True,
                          timeout=300)


class FactorySets(unittest.TestCase):
    def test_regenerated_sets_are_byte_identical(self):
        with tempfile.TemporaryDirectory(prefix="kx5-factory-test-") as tmp:
            out = os.path.join(tmp, "factory")
            wav = os.path.join(tmp, "wav")
            done = run_builder("--program", EDITOR, "--out", out, "--wav", wav)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(sorted(os.listdir(out)), sorted(os.listdir(COMMITTED)))
            differing = []
            for name in sorted(os.listdir(out)):
                with open(os.path.join(out, name), "rb") as a, \
                        open(os.path.join(COMMITTED, name), "rb") as b:
                    if a.read() != b.read():
                        differing.append(name)
            self.assertEqual(differing, [], "regenerate with resources/factory/build_factory_sets.py")
            # The sources are 48 kHz mono WAV files, one per set.
            with open(os.path.join(COMMITTED, "index.json"), encoding="utf-8") as f:
                files = sorted(s["file"] for s in json.load(f)["sets"])
            self.assertEqual(sorted(os.listdir(wav)), files)
            for name in files:
                with open(os.path.join(wav, name), "rb") as f:
                    head = f.read(36)
                self.assertEqual(head[:4] + head[8:16], b"RIFFWAVEfmt ", name)
                self.assertEqual(int.from_bytes(head[22:24], "little"), 1, name)
                self.assertEqual(int.from_bytes(head[24:28], "little"), 48000, name)

    def test_index_lists_exactly_the_committed_files(self):
        with open(os.path.join(COMMITTED, "index.json"), encoding="utf-8") as f:
            sets = json.load(f)["sets"]
        self.assertEqual(len(sets), 11)
        listed = [s["coefficients"] for s in sets]
        self.assertEqual(len(set(listed)), len(listed))
        self.assertEqual(sorted(os.listdir(COMMITTED)), sorted(listed + ["index.json"]))
        for s in sets:
            with open(os.path.join(COMMITTED, s["coefficients"]), "rb") as f:
                data = f.read()
            self.assertEqual(len(data), 13416, s["coefficients"])
            self.assertEqual(hashlib.sha256(data).hexdigest(), s["sha256"], s["coefficients"])

    def test_a_program_that_cannot_convert_fails_the_build_and_writes_nothing(self):
        with tempfile.TemporaryDirectory(prefix="kx5-factory-test-") as tmp:
            out = os.path.join(tmp, "factory")
            done = run_builder("--program", os.path.join(tmp, "missing"), "--out", out)
            self.assertEqual(done.returncode, 2)
            self.assertIn("not an executable", done.stderr)
            # A program whose console answers nothing.
            done = run_builder("--program", "/bin/true", "--out", out)
            self.assertEqual(done.returncode, 1)
            self.assertIn("console ended", done.stderr)
            self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    for name, value in (("KX5_EDITOR", EDITOR), ("KX5_FACTORY_DIR", COMMITTED),
                        ("KX5_FACTORY_BUILDER", BUILDER)):
        if not value:
            sys.exit(f"factory_sets_test: {name} is not set")
    unittest.main(verbosity=2)
