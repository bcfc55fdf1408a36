#!/usr/bin/env bash
# The GDI desktop grab and the pointer marker of the Windows build, under Wine on a private Xvfb:
# runs capture/screen_grabber_gdi_test.exe, which paints a window of its own and grabs it.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine
start_xvfb 640x480
wine_gtest "the desktop grab test under Wine" 90 640x480 \
  "$build_dir/capture/screen_grabber_gdi_test.exe"
pass "GDI grab and pointer marker under Wine"
