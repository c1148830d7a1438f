#!/usr/bin/env bash
# The main job. With a display: the editor window (on the simulated KX-5 unit
# when no pedal is connected). Without one: the same program under a virtual
# display, driven like a user would (a WAV file handed to it, loaded into
# slot 1 of the simulated unit), with screenshots of each step and a check
# that the unit holds the slot name and exactly the converted coefficients.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="$root/build/kx5-editor"
out="$root/build/main-job"
mkdir -p "$out"

if [ -n "${DISPLAY:-}" ] && [ "${KX5_HEADLESS:-0}" != 1 ]; then
    exec "$exe" "$@"
fi

echo "main job: no display: a scripted session runs the editor under Xvfb and loads"
echo "main job: an impulse response into slot 1 of the simulated KX-5"
ir="$out/demo-cabinet.wav"
# A short decaying, band-limited noise burst stands in for a cabinet recording.
sox -R -n -r 48000 -b 16 -c 1 "$ir" synth 0.3 pinknoise fade q 0.001 0.3 0.29 \
    lowpass 5000 highpass 80 gain -3
exec "$root/build/kx5_main_job_session" "$ir" "$out"
