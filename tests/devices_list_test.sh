#!/usr/bin/env bash
# quillon-publisher --list-devices: the cameras in the order camera capture counts them, and the
# sound list with the no-sound default entry first and the system's default source at position 1.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
program="$program_dir/quillon-publisher"
use_test_cameras

# (Without a sound server only the default entry: CaptureAudioPulseNoServer in devices_sound_test.)
start_pulseaudio
timeout 20 "$program" --list-devices > "$work/list.txt"
cat "$work/list.txt"
grep -q '^  0  Quillon Test Camera A$' "$work/list.txt" || fail "camera A not at 0"
grep -q '^  1  Quillon Test Camera B$' "$work/list.txt" || fail "camera B not at 1"
grep -q '^  0  Primary Sound Capture Driver  (records nothing)$' "$work/list.txt" ||
  fail "default entry not first"
grep -q '^  1  Quillon test microphone  \[quillon_test_mic\]$' "$work/list.txt" ||
  fail "the default source is not at position 1"
grep -q '^  2  Monitor of ' "$work/list.txt" || fail "monitors not after the microphone"
echo "PASS"
