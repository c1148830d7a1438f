#!/usr/bin/env python3
"""Packs resources/bundle/html into a ZIP archive (entries under "html/") and
writes the identifier source that links it into the executable. The build
adds html/js/version.js, which tells the page the program's version. The
identifier is taken from the archive's content, so it changes exactly when
the bundle does. The archive is reproducible: entries sorted, fixed time
stamps, fixed permissions.

Usage: pack_bundle.py SOURCE-ROOT OUT-DIR VERSION"""
import hashlib
import io
import json
import os
import sys
import zipfile


VERSION_ENTRY = "html/js/version.js"


def version_module(version: str) -> bytes:
    return ("// Written by the build: the program's version.\n"
            f"export const VERSION = {json.dumps(version)};\n").encode()


def pack(source_root: str, generated: dict) -> bytes:
    """The archive of source_root/html plus the generated entries (name:
    bytes), which must not exist as files."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        html = os.path.join(source_root, "html")
        paths = []
        for folder, dirs, files in os.walk(html):
            dirs.sort()
            for name in sorted(files):
                paths.append(os.path.join(folder, name))
        entries = dict(generated)
        for path in paths:
            rel = os.path.relpath(path, source_root).replace(os.sep, "/")
            if rel in entries:
                raise SystemExit(f"{rel} is written by the build; remove it from the sources")
            with open(path, "rb") as f:
                entries[rel] = f.read()
        for rel in sorted(entries):
            info = zipfile.ZipInfo(rel, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, entries[rel])
    return buf.getvalue()


def main() -> int:
    if len(sys.argv) != 4:
        print(__doc__.rsplit("\n", 1)[-1], file=sys.stderr)
        return 2
    source_root, out_dir, version = sys.argv[1:4]
    data = pack(source_root, {VERSION_ENTRY: version_module(version)})
    bundle_id = "B_" + hashlib.sha256(data).hexdigest()[:12]
    os.makedirs(out_dir, exist_ok=True)

    def write_if_changed(name: str, content: bytes) -> None:
        path = os.path.join(out_dir, name)
        try:
            with open(path, "rb") as f:
                if f.read() == content:
                    return
        except OSError:
            pass
        with open(path, "wb") as f:
            f.write(content)

    write_if_changed("bundle.zip", data)
    write_if_changed("bundle_id.cpp", (
        '#include "resources/bundle_resource.h"\n'
        f'const char* kx5::bundleId() {{ return "{bundle_id}"; }}\n').encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
