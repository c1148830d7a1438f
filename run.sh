#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/setup/install-packages.sh"
"$root/setup/build.sh" "$root/build"
exec "$root/setup/main-job.sh" "$@"
