#!/usr/bin/env python3
"""The DI phrase in the bundle is exactly what its script writes, on every
run.

Environment: KX5_DI_SCRIPT (resources/audition/make_di_phrase.py),
KX5_DI_PHRASE (the committed file).
"""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.environ.get("KX5_DI_SCRIPT", "")
COMMITTED = os.environ.get("KX5_DI_PHRASE", "")


class DiPhrase(unittest.TestCase):
    def test_two_runs_write_the_committed_bytes(self):
        with tempfile.TemporaryDirectory(prefix="kx5-di-") as tmp:
            written = []
            for name in ("one.wav", "two.wav"):
                out = os.path.join(tmp, name)
                done = subprocess.run([sys.executable, SCRIPT, out], capture_output=True, text=True,
                                      timeout=100)
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(out, "rb") as f:
                    written.append(f.read())
            with open(COMMITTED, "rb") as f:
                committed = f.read()
            self.assertEqual(written[0], written[1])
            self.assertEqual(written[0], committed,
                             "regenerate with resources/audition/make_di_phrase.py")
            # 16-bit mono at 48 kHz, a few seconds long.
            self.assertEqual(committed[:4], b"RIFF")
            self.assertEqual(committed[22:24], b"\x01\x00")
            self.assertGreater(len(committed) - 44, 48000 * 2 * 3)


if __name__ == "__main__":
    unittest.main()
