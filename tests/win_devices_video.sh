#!/usr/bin/env bash
# The DirectShow graph under Wine, with a file standing in for the camera (there is none here):
# a small uncompressed AVI, top half red and bottom half blue, played through the sample grabber
# into the frame callback and the preview inside a window of the test's.
source "$QUILLON_SOURCE_DIR/tests/win_devices_common.sh"
command -v ffmpeg > /dev/null || fail "ffmpeg is not installed (scripts/packages lists it)"
command -v Xvfb > /dev/null || fail "Xvfb is not installed (scripts/packages lists xvfb)"

# The preview's owner is a real window: Wine needs an X server for it.
xvfb_pid=""
extra_cleanup() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2> /dev/null || true; fi; }
Xvfb -displayfd 3 -screen 0 320x240x24 -noreset -nolisten tcp 3> "$work/display" 2> /dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

timeout 60 ffmpeg -v error -nostdin -f lavfi -i "color=c=red:s=160x60:r=10:d=3" \
  -f lavfi -i "color=c=blue:s=160x60:r=10:d=3" -filter_complex vstack \
  -c:v rawvideo -pix_fmt bgr24 "$work/bars.avi" || fail "ffmpeg could not make the test video"
# Wine's drive Z: is the root of the Unix file system.
QUILLON_TEST_VIDEO_FILE="Z:${work//\//\\}\\bars.avi" run_test_program 'CaptureVideoDShow*' desktop
echo "PASS: DirectShow hands the file's frames to the callback"
