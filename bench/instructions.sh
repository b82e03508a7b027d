#!/usr/bin/env bash
# Instructions the window spends per displayed frame, counted by callgrind
# while a virtual meter sends 2 and 60 frames a second over the USB bridge.
# Unlike CPU percentages this does not swing with the machine's load: only
# the window's own instructions count, over the measured span of the run.
#   KQ_BUILD_DIR      the build with bench/usb_bench (scripts/bench sets it)
#   KQ_COUNT_SECONDS  length of each counted run (default 10)
set -euo pipefail
build=${KQ_BUILD_DIR:-build-bench}
bench="$build/bench/usb_bench"
if ! command -v valgrind >/dev/null; then
  echo "instructions.sh: valgrind is not installed (scripts/install-deps)" >&2
  exit 1
fi
[ -x "$bench" ] || { echo "instructions.sh: $bench is not built" >&2; exit 1; }
seconds=${KQ_COUNT_SECONDS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fps in 2 60; do
  out="$work/callgrind.$fps"
  if ! shown=$(valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out" \
      "$bench" --counted "$fps" "$seconds" 2>"$work/log.$fps" | sed -n 's/^displayed //p'); then
    echo "instructions.sh: the counted run at $fps frames/s failed:" >&2
    cat "$work/log.$fps" >&2
    exit 1
  fi
  total=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$out" | head -n1)
  if [ -z "$shown" ] || [ "$shown" -eq 0 ] || [ -z "$total" ]; then
    echo "instructions.sh: no frame displayed at $fps frames/s" >&2
    cat "$work/log.$fps" >&2
    exit 1
  fi
  echo "figure usb_window_instructions_per_frame_${fps}fps $((total / shown)) Ir"
  echo "figure usb_window_frames_counted_${fps}fps $shown frames"
done
