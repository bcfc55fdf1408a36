#!/usr/bin/env bash
# The DirectShow graph under Wine, with a file standing in for the camera (there is none here):
# a small uncompressed AVI, top half red and bottom half blue, played through the sample grabber
# into the frame callback and the preview inside a window of the test's.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need ffmpeg
use_wine
start_xvfb 320x240  # the preview's owner is a real window: Wine needs an X server for it

timeout 60 ffmpeg -v error -nostdin -f lavfi -i "color=c=red:s=160x60:r=10:d=3" \
  -f lavfi -i "color=c=blue:s=160x60:r=10:d=3" -filter_complex vstack \
  -c:v rawvideo -pix_fmt bgr24 "$work/bars.avi" || fail "ffmpeg could not make the test video"
QUILLON_TEST_VIDEO_FILE=$(windows_path "$work/bars.avi") \
  wine_gtest "the Windows device test (CaptureVideoDShow*)" 60 320x240 \
  "$build_dir/devices/devices_win_test.exe" --gtest_filter='CaptureVideoDShow*'
echo "PASS: DirectShow hands the file's frames to the callback"
