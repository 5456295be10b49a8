#!/bin/bash
# CPU taken by tev-view and its browser_process while an idle static page is
# shown, over 10 s, under a private Xvfb. Usage: bench/viewer_idle_cpu.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
number=90
while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
Xvfb ":$number" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
export DISPLAY=:$number
"$build/bin/tev-view" "file://$root/samples/sample_page.html" >/dev/null 2>&1 &
viewer=$!
trap 'kill $viewer 2>/dev/null; wait $viewer 2>/dev/null; kill $xvfb; wait $xvfb 2>/dev/null' EXIT
sleep 8  # started, loaded, painted
browser=$(pgrep -P "$viewer" | head -1)  # its one child
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
v0=$(ticks "$viewer"); b0=$(ticks "$browser"); t0=$(date +%s%N)
sleep 10
v1=$(ticks "$viewer"); b1=$(ticks "$browser"); t1=$(date +%s%N)
awk -v v="$((v1 - v0))" -v b="$((b1 - b0))" -v hz="$hz" -v ns="$((t1 - t0))" 'BEGIN { s = ns / 1e9;
  printf "idle static page over %.1f s: tev-view %.2f %% CPU, browser_process %.2f %% CPU (goal < 2 %% each)\n",
         s, 100 * v / hz / s, 100 * b / hz / s }'
