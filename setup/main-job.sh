#!/usr/bin/env bash
# The main job. With a display: the editor window (on the simulated KX-5 unit
# when no pedal is connected). Without one: the same window under a virtual
# display, a screenshot of it, and an impulse response analysed and converted
# through the bridge console, with the result printed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="$root/build/kx5-editor"
out="$root/build/main-job"
mkdir -p "$out"

if [ -n "${DISPLAY:-}" ] && [ "${KX5_HEADLESS:-0}" != 1 ]; then
    exec "$exe" "$@"
fi

echo "main job: no display, running the editor under Xvfb"
display=99
while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
home="$(mktemp -d)"
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    DISPLAY=":$display" WEBKIT_DISABLE_COMPOSITING_MODE=1 LIBGL_ALWAYS_SOFTWARE=1 \
    dbus-run-session -- "$exe" >"$out/program.log" 2>&1 &
app=$!
sleep "${KX5_MAIN_JOB_SETTLE:-12}"
DISPLAY=":$display" import -window root "$out/window.png"
echo "main job: screenshot of the window: $out/window.png"

echo "main job: analysing and converting a generated impulse response"
ir="$out/demo-cabinet.wav"
sox -n -r 48000 -b 16 -c 1 "$ir" synth 0.4 pinknoise fade q 0 0.4 0.39 gain -6
printf '%s\n' \
    "[\"\$\$app_control\",\"wavstat:{\\\"path\\\":\\\"$ir\\\"}\"]" \
    '["wait", 300]' \
    "[\"\$\$app_control\",\"convert:{\\\"path\\\":\\\"$ir\\\",\\\"ch\\\":0}\"]" \
    '["wait", 3000]' \
    | HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" TMPDIR="$home" \
        "$exe" --console --no-simulated-unit | tee "$out/console.log"
coef="$home/velmar-$(id -u)-kx5-editor/VLM00000.tmp"
if [ -n "$coef" ] && [ -f "$coef" ]; then
    echo "main job: coefficient file $coef, $(stat -c %s "$coef") bytes"
else
    echo "main job: conversion did not report a file (see $out/console.log)"
fi
