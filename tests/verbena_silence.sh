#!/usr/bin/env bash
# A class published without sound (sound switched off, or no sound device) still has a sound
# track, filled with encoded silence as long as the pictures; sound that starts later takes over
# on time, with the track continuous throughout. Checked on what nginx-rtmp received.
source "$(dirname "${BASH_SOURCE[0]}")/verbena_common.sh"
rate=15

start_rtmp_server
url="rtmp://127.0.0.1:$rtmp_port/encoder/zel/mp4:"

# track_span FILE STREAM [VIDEO]: first pts, end (last pts + its duration) and packet count of a
# stream, in seconds; fails when a packet does not start where the one before it ended (a gap or
# an overlap; 2 ms for the millisecond rounding). VIDEO 1: no such check (pictures keep their
# arrival times).
track_span() {
  ffprobe -v error -select_streams "$2" -show_entries packet=pts_time,duration_time -of csv=p=0 \
    "$1" | awk -F, -v name="$(basename "$1") $2" -v video="${3:-0}" '
      $1 == "" || NF < 2 { next }  # side data lines
      n == 0 { first = $1 }
      n > 0 && !video && ($1 < end - 0.002 || $1 > end + 0.002) {
        printf "%s: packet at %.3f s, the one before ended at %.3f s\n", name, $1, end > "/dev/stderr"
        bad = 1
      }
      { end = $1 + $2; n++ }
      END { if (bad || n == 0) exit 1; printf "%.3f %.3f %d\n", first, end, n }'
}

# check_silent_track FILE SOUND_FROM: AAC track as long as the pictures, continuous, starting with
# them; silent up to SOUND_FROM seconds (none: silent throughout), the 440 Hz tone after it.
check_silent_track() {
  local file=$1 sound_from=$2 name video audio
  name=$(basename "$file")
  [ "$(probe "$file" a:0 codec_name)" = aac ] || fail "$name: no AAC stream"
  video=$(track_span "$file" v:0 1) || fail "$name: no pictures"
  audio=$(track_span "$file" a:0) || fail "$name: the sound track is not continuous"
  read -r v_first v_end v_count <<<"$video"
  read -r a_first a_end a_count <<<"$audio"
  awk -v v="$v_first" -v a="$a_first" 'BEGIN { d = v - a; exit !(d < 0.05 && d > -0.05) }' ||
    fail "$name: pictures start at $v_first s, sound at $a_first s"
  awk -v v="$v_end" -v a="$a_end" 'BEGIN { d = v - a; exit !(d < 0.05 && d > -0.05) }' ||
    fail "$name: pictures end at $v_end s, sound at $a_end s"
  ffmpeg -v error -i "$file" -map a:0 -ac 1 -ar 44100 -f s16le -y "$work/sound.raw"
  # The first loud sample, and the loudest one up to 0.1 s before it (AAC smears a start a few ms
  # backwards).
  local onset quiet_peak
  read -r onset quiet_peak < <(python3 - "$work/sound.raw" <<'PY'
import array, sys
s = array.array("h", open(sys.argv[1], "rb").read())
on = next((i for i, v in enumerate(s) if abs(v) > 1000), None)
quiet = max(map(abs, s[:max(0, (len(s) if on is None else on) - 4410)]), default=0)
print("none" if on is None else "%.3f" % (on / 44100), quiet)
PY
)
  [ "$quiet_peak" -le 40 ] || fail "$name: the silence is not silent (peak $quiet_peak)"
  if [ "$sound_from" = none ]; then
    [ "$onset" = none ] || fail "$name: sound at $onset s in a class without sound"
  else
    # The tone starts where it was handed over, relative to the pictures (the picture track
    # starts at 0 on both); the slack is for the test's own threads waking late.
    awk -v o="$onset" -v s="$sound_from" -v f="$a_first" 'BEGIN { d = o + f - s; exit !(d > -0.1 && d < 0.2) }' ||
      fail "$name: the tone starts at $onset s, expected about $sound_from s"
    local hz
    hz=$(tone "$file" "$(awk -v o="$onset" 'BEGIN { print o + 0.1 }')")
    within "$hz" 440 1 || fail "$name: tone at $hz Hz after its start, expected 440 Hz"
  fi
  pass "$name: $v_count pictures $v_first..$v_end s, $a_count sound packets $a_first..$a_end s, continuous, silent up to ${onset} s"
}

# 1. Pictures only: PutAudioData is never called.
"$driver" publish "$library" "${url}11111111.mp4" --seconds 3 --rate $rate --sound 0 >"$work/quiet.out"
cat "$work/quiet.out"
[ "$(value start_result "$work/quiet.out")" = 1 ] || fail "Start failed"
[ "$(value sound_blocks "$work/quiet.out")" = 0 ] || fail "sound blocks counted without sound"
blocks=$(value silence_blocks "$work/quiet.out")
[ "$blocks" -ge 120 ] && [ "$blocks" -le 140 ] || fail "$blocks silence blocks for 3 s, expected about 129"

# 2. Sound from 2 s on.
"$driver" publish "$library" "${url}22222222.mp4" --seconds 4 --rate $rate --sound-after 2 \
  >"$work/late.out"
cat "$work/late.out"
[ "$(value start_result "$work/late.out")" = 1 ] || fail "Start failed"

# What nginx received (the library's own recording gets the same packets: verbena_faults.sh).
stop_rtmp_server
check_silent_track "$(ls "$rtmp_dir/record/mp4%3A11111111.mp4"*.flv)" none
check_silent_track "$(ls "$rtmp_dir/record/mp4%3A22222222.mp4"*.flv)" 2
echo "PASS"
