#!/usr/bin/env bash
# DirectSound capture under Wine: a PulseAudio daemon of the test's own plays a steady 440 Hz
# tone into a null sink whose monitor is the default source (kept awake by a loopback into a
# second null sink, or Wine's first notification comes only seconds later); the test program
# lists the sound devices through DirectSound, records about a second from the one the window
# would choose and checks the chunks and the tone.
source "$QUILLON_SOURCE_DIR/tests/win_devices_common.sh"
source "$QUILLON_SOURCE_DIR/tests/devices_test_servers.sh"
extra_cleanup() { stop_test_sound_server; }

start_test_sound_server || fail "the test sound server did not start"
QUILLON_TEST_TONE_HZ=440 run_test_program 'CaptureAudioDSound*'
echo "PASS: DirectSound records the tone"
