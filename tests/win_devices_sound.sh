#!/usr/bin/env bash
# The sound devices under Wine, from a PulseAudio daemon of the test's own whose default source
# records a steady 440 Hz tone: the program's --list-devices shows the daemon's capture devices,
# and the test program lists the sound devices through DirectSound, records about a second from
# the one the window would choose and checks the chunks and the tone.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine
start_pulseaudio

# The program's own list: no camera here; the sound list numbered from 0, the default entry
# first, then Wine's devices of the daemon, the test microphone among them with its identifier.
DISPLAY='' timeout -k 5 30 "$wine_loader" "$program_dir/quillon-publisher.exe" --list-devices </dev/null \
  2>"$work/err" | tr -d '\r' >"$work/list" || fail "--list-devices failed"
grep -qx '  none' "$work/list" || fail "--list-devices shows a camera where there is none"
sed -n '/^Sound devices/,$p' "$work/list" | tail -n +2 >"$work/sound"
grep -qE '^  0  .*  \(records nothing\)$' "$work/sound" ||
  fail "no default entry first: $(cat "$work/list")"
grep -qE '^  [1-9][0-9]*  Quillon test microphone  \[\{[0-9A-F-]{36}\}\]$' "$work/sound" ||
  fail "the test microphone is not listed: $(cat "$work/list")"
[ "$(awk '{ printf "%s ", $1 }' "$work/sound")" = "$(seq -s ' ' 0 $(($(wc -l <"$work/sound") - 1))) " ] ||
  fail "the sound list is not numbered 0, 1, 2, ...: $(cat "$work/list")"
pass "--list-devices shows the test microphone"

QUILLON_TEST_TONE_HZ=440 wine_gtest "the Windows device test (CaptureAudioDSound*)" 60 - \
  "$build_dir/devices/devices_win_test.exe" --gtest_filter='CaptureAudioDSound*'
echo "PASS: DirectSound records the tone"
