#!/usr/bin/env bash
# quillon-publisher --headless with a camera and sound, for picture types 1, 2 and 3, publishing
# with the real encoder library to a local RTMP server; the recordings are decoded and checked:
# test camera A's colour bars where the picture type puts the camera, and the 440 Hz tone.
# Needs the encoder library (libverbena.so in the program folder), scripts/rtmp-server, ffmpeg,
# and --headless choosing sound position 1 as the window does.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$program_dir/libverbena.so" ] || fail "the encoder library is not built"
start_xvfb 640x480 -br  # a black desktop: the inset checks look for it
use_test_cameras
start_pulseaudio
start_rtmp_server
copy_program

# Prints "R G B" of pixel (x, y) (from the top) of the recording's frame at 2 s.
pixel() {  # file x y
  ffmpeg -loglevel error -ss 2 -i "$1" -frames:v 1 -f rawvideo -pix_fmt rgb24 "$work/frame.rgb" -y
  local width
  width=$(ffprobe -v error -select_streams v:0 -show_entries stream=width -of csv=p=0 "$1")
  python3 - "$work/frame.rgb" "$width" "$2" "$3" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
w, x, y = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
i = (y * w + x) * 3
print(data[i], data[i + 1], data[i + 2])
PY
}
bright_grey() { read -r r g b <<< "$1"; [ "$r" -gt 140 ] && [ "$g" -gt 140 ] && [ "$b" -gt 140 ]; }
dark() { read -r r g b <<< "$1"; [ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$b" -lt 60 ]; }

# The frequency of the recording's tone, from its rising zero crossings. Only blocks with sound
# count: a stretch of silence (the encoder fills one while the sound device is late) is not tone.
tone() {
  ffmpeg -loglevel error -i "$1" -ss 1 -t 2 -ac 1 -ar 44100 -f s16le "$work/sound.raw" -y
  python3 - "$work/sound.raw" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
s = struct.unpack("<%dh" % (len(raw) // 2), raw)
block = 441  # 10 ms
crossings = sounding = 0
for start in range(0, len(s) - block, block):
    part = s[start:start + block + 1]
    if max(abs(v) for v in part) < 1000:
        continue
    sounding += block
    crossings += sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b)
print(round(crossings / (sounding / 44100.0)) if sounding > 44100 else 0)
PY
}

for style in 1 2 3; do
  # Camera 320x240 on a 640x480 desktop, with sound.
  cp "$shipped_config" "$config"
  set_config "VideoStyle=$style" ScreenWidth=640 ScreenHeight=480 VideoWidth=320 VideoHeight=240 \
    Bitrate=800 HaveAudio=1
  rm -f "$rtmp_dir/record"/*.flv
  timeout 60 "$app" --headless --duration 4 \
    "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/cam$style&4242")&" \
    > "$work/out" 2> "$work/err" || fail "style $style: exit $?"
  sleep 1
  recording=$(find "$rtmp_dir/record" -name '*.flv' | head -n1)
  [ -n "$recording" ] || fail "style $style: nothing recorded"
  case $style in
    1)  # the camera is the whole picture: grey bar top left, the blue bar at the top right
      bright_grey "$(pixel "$recording" 5 5)" || fail "style 1: no camera bars at the top left"
      read -r r _ b <<< "$(pixel "$recording" 315 60)"
      [ "$b" -gt 140 ] && [ "$r" -lt 80 ] || fail "style 1: no blue bar at the top right" ;;
    2)  # the desktop (black) with the camera inset 160x120 in the bottom left corner
      bright_grey "$(pixel "$recording" 5 365)" || fail "style 2: no camera inset bottom left"
      dark "$(pixel "$recording" 600 20)" || fail "style 2: the desktop is not where expected" ;;
    3)  # the camera large with the desktop inset 80x60 in the bottom left corner
      bright_grey "$(pixel "$recording" 5 5)" || fail "style 3: no camera picture"
      dark "$(pixel "$recording" 5 235)" || fail "style 3: no desktop inset bottom left" ;;
  esac
  hz=$(tone "$recording")
  [ "$hz" -ge 430 ] && [ "$hz" -le 450 ] || fail "style $style: tone at $hz Hz, not 440"
  echo "style $style: camera where expected, tone $hz Hz"
done
echo "PASS"
