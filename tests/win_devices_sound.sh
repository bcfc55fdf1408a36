#!/usr/bin/env bash
# The sound devices under Wine: a PulseAudio daemon of the test's own plays a steady 440 Hz
# tone into a null sink whose monitor is the default source (kept awake by a loopback into a
# second null sink, or Wine's first notification comes only seconds later); the test program
# lists the sound devices through DirectSound, records about a second from the one the window
# would choose and checks the chunks and the tone. Before that, the program's --list-devices
# shows the daemon's capture devices.
source "$QUILLON_SOURCE_DIR/tests/win_devices_common.sh"
source "$QUILLON_SOURCE_DIR/tests/devices_test_servers.sh"
extra_cleanup() { stop_test_sound_server; }

start_test_sound_server || fail "the test sound server did not start"

# The program's own list: no camera here; the sound list numbered from 0, the default entry
# first, then Wine's devices of the daemon, the test microphone among them with its identifier.
program="$QUILLON_PROGRAM_DIR/quillon-publisher.exe"
DISPLAY= timeout -k 5 30 "$wine64" "$program" --list-devices </dev/null 2>"$work/err" |
  tr -d '\r' >"$work/list" || fail "--list-devices failed: $(cat "$work/err")"
grep -qx '  none' "$work/list" || fail "--list-devices shows a camera where there is none"
sed -n '/^Sound devices/,$p' "$work/list" | tail -n +2 >"$work/sound"
grep -qE '^  0  .*  \(records nothing\)$' "$work/sound" ||
  fail "no default entry first: $(cat "$work/list")"
grep -qE '^  [1-9][0-9]*  Quillon test microphone  \[\{[0-9A-F-]{36}\}\]$' "$work/sound" ||
  fail "the test microphone is not listed: $(cat "$work/list")"
[ "$(awk '{ printf "%s ", $1 }' "$work/sound")" = "$(seq -s ' ' 0 $(($(wc -l <"$work/sound") - 1))) " ] ||
  fail "the sound list is not numbered 0, 1, 2, ...: $(cat "$work/list")"
echo "ok: --list-devices shows the test microphone"

QUILLON_TEST_TONE_HZ=440 run_test_program 'CaptureAudioDSound*'
echo "PASS: DirectSound records the tone"
