# shellcheck shell=bash disable=SC2034  # its variables are for the scripts that source it
# Sourced by the encoder library's end-to-end tests: the library, a copy of the test driver, and
# checks of what arrived, decoded with ffprobe/ffmpeg.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
library=$program_dir/libverbena.so
[ -z "${QUILLON_WINE:-}" ] || { use_wine; library=$program_dir/Verbena.dll; }

# value KEY FILE: the value of a key=value line.
value() { sed -n "s/^$1=//p" "$2" | tail -1; }

# The library records beside the program that loaded it: each test runs its own copy of the
# driver, so its recordings land in its own scratch folder.
mkdir -p "$work/bin"
cp "$build_dir/tests/verbena_driver$exe" "$work/bin/"
driver=$work/bin/verbena_driver
driver_recordings=$work/bin/recordings
# Under Wine the driver is a Windows program: file arguments become Z: paths.
wine_driver() {
  local argument arguments=()
  for argument in "$@"; do
    [[ $argument != /* ]] || argument=$(windows_path "$argument")
    arguments+=("$argument")
  done
  "$wine_loader" "$work/bin/verbena_driver.exe" "${arguments[@]}" </dev/null | tr -d '\r'
}
[ -z "$exe" ] || driver=wine_driver

# publish NAME URL [OPTION...]: the driver publishing in the background ($publisher), its output in
# $work/NAME.out and NAME.err; returns once the library publishes.
publish() {
  local name=$1 url=$2
  shift 2
  "$driver" publish "$library" "$url" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  publisher=$!
  at_exit stop_process $publisher
  wait_until 30 "$name did not publish" grep -qs "verbena: publishing" "$work/$name.err"
}

probe() {  # file stream entry
  ffprobe -v error -select_streams "$2" -count_frames -show_entries "stream=$3" \
    -of default=noprint_wrappers=1:nokey=1 "$1" | head -1
}

within() {  # value expected percent
  awk -v v="$1" -v e="$2" -v p="$3" 'BEGIN { d = v - e; if (d < 0) d = -d; exit !(d <= e * p / 100) }'
}

# check_recording FILE SECONDS RATE WIDTH HEIGHT: H.264 + AAC of the given size, decoding without
# errors, about SECONDS x RATE pictures and SECONDS of sound (5%; SECONDS "any": as much sound as
# pictures), a 440 Hz tone, sound and picture starting together, and the
# picture upright with its colours right (top red, bottom blue).
check_recording() {
  local file=$1 seconds=$2 rate=$3 width=$4 height=$5 name frames expected sound_frames
  local sound_seconds errors video_start audio_start hz rgb
  name=$(basename "$file")
  [ -s "$file" ] || fail "$name is missing or empty"
  [ "$(probe "$file" v:0 codec_name)" = h264 ] || fail "$name: no H.264 stream"
  [ "$(probe "$file" a:0 codec_name)" = aac ] || fail "$name: no AAC stream"
  [ "$(probe "$file" v:0 width)" = "$width" ] && [ "$(probe "$file" v:0 height)" = "$height" ] ||
    fail "$name: size $(probe "$file" v:0 width)x$(probe "$file" v:0 height), expected ${width}x$height"
  frames=$(probe "$file" v:0 nb_read_frames)
  sound_frames=$(probe "$file" a:0 nb_read_frames)
  sound_seconds=$(awk -v f="$sound_frames" 'BEGIN { print f * 1024 / 44100 }')
  if [ "$seconds" = any ]; then  # only whole, and as long in sound as in pictures
    [ "$frames" -gt 0 ] || fail "$name: no pictures"
    seconds=$(awk -v f="$frames" -v r="$rate" 'BEGIN { print f / r }')
  fi
  expected=$(awk -v s="$seconds" -v r="$rate" 'BEGIN { print s * r }')
  within "$frames" "$expected" 5 || fail "$name: $frames pictures, expected $expected (5%)"
  within "$sound_seconds" "$seconds" 5 || fail "$name: ${sound_seconds} s of sound, expected $seconds s"
  # Decode every frame and keep only the decoder's complaints (pictures keep their arrival times,
  # so a tool that puts them on a fixed-rate grid would complain about jitter instead).
  errors=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
    "$file" 2>&1 >/dev/null | head -5)
  [ -z "$errors" ] || fail "$name: does not decode cleanly: $errors"
  video_start=$(probe "$file" v:0 start_time)
  audio_start=$(probe "$file" a:0 start_time)
  # Both start at the first keyframe; the slack is for the test's own sound thread waking late on
  # a loaded machine (the library stamps sound by its arrival).
  awk -v v="$video_start" -v a="$audio_start" 'BEGIN { d = v - a; if (d < 0) d = -d; exit !(d < 0.15) }' ||
    fail "$name: picture starts at $video_start s, sound at $audio_start s"
  hz=$(tone "$file")
  within "$hz" 440 1 || fail "$name: tone at $hz Hz, expected 440 Hz"
  rgb=$(ffmpeg -v error -i "$file" -vf "select=eq(n\,5),scale=2:2:flags=area" -frames:v 1 \
    -f rawvideo -pix_fmt rgb24 - | od -An -tu1 | tr -s ' \n' ' ')
  # Pixels: top-left, top-right, bottom-left, bottom-right; each red, green, blue.
  echo "$rgb" | awk '{ exit !($1 > 150 && $3 < 100 && $7 < 100 && $9 > 150) }' ||
    fail "$name: picture not upright or colours swapped (rgb: $rgb)"
  pass "$name: h264 ${width}x$height, $frames pictures, ${sound_seconds} s of sound at $hz Hz, starts $video_start/$audio_start"
}
