#!/usr/bin/env bash
# The main job. Until the window exists this shows the bridge at work
# through the console.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="$root/build/kx5-editor"
echo "main job: bridge console demo"
printf '%s\n' '["$$util_bytes","Aé"]' '["$$util_text","410042"]' '["$$app_nonexistent"]' \
    | "$exe" --console
