#!/usr/bin/env python3
"""Packs resources/bundle/html into a ZIP archive (entries under "html/") and
writes the assembler stub and identifier source that link it into the
executable. The identifier is taken from the archive's content, so it changes
exactly when the bundle does. The archive is reproducible: entries sorted,
fixed time stamps, fixed permissions."""
import hashlib
import io
import os
import sys
import zipfile


def pack(source_root: str) -> bytes:
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        html = os.path.join(source_root, "html")
        paths = []
        for folder, dirs, files in os.walk(html):
            dirs.sort()
            for name in sorted(files):
                paths.append(os.path.join(folder, name))
        for path in sorted(paths):
            rel = os.path.relpath(path, source_root).replace(os.sep, "/")
            info = zipfile.ZipInfo(rel, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read())
    return buf.getvalue()


def main() -> int:
    source_root, out_dir = sys.argv[1], sys.argv[2]
    data = pack(source_root)
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
