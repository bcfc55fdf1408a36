# shellcheck shell=bash disable=SC2034  # its variables are for the scripts that source it
# Sourced by the end-to-end scripts in tests/: strict mode, the folders of the sources, the build
# and the program, a work folder $work, the real servers a test runs against (a private Xvfb, a
# PulseAudio daemon, nginx-rtmp) and Wine for the Windows build. Whatever a script starts here is
# stopped and $work removed on every exit: success, failure, Ctrl-C or SIGTERM.
#   at_exit COMMAND...  one more command for the exit (they run last registered first)
#   program_pid         the program a script started in the background, ended on exit
#   extra_cleanup       a function a script may define for what else it started; it runs first
#   failure_files       files of $work printed when the script fails (default: out err log)
#   KEEP_WORK=1         keeps $work to look into a failure
# Build outputs used here: capture/libfake_verbena.so (.dll), capture/screencast_portal_standin,
# test-gst-plugins/; the scripts also
# use tests/verbena_driver, devices/devices_win_test.exe, capture/screen_grabber_gdi_test.exe and
# the sources' resources/config.ini, scripts/rtmp-server and scripts/wine.
set -euo pipefail

source_dir=${QUILLON_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
build_dir=${QUILLON_BUILD_DIR:-$source_dir/build}
program_dir=${QUILLON_PROGRAM_DIR:-$build_dir/bin}
shipped_config=$source_dir/resources/config.ini
rtmp_server=$source_dir/scripts/rtmp-server
exe=""  # ".exe" after use_wine

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-$(basename "$0" .sh).XXXXXX")
failure_files=(out err log)
cleanups=()
program_pid=""
extra_cleanup() { :; }
at_exit() { cleanups+=("$(printf '%q ' "$@")"); }
on_exit() {
  local status=$? i file
  trap '' INT TERM
  if [ "$status" -ne 0 ]; then
    for file in "${failure_files[@]}"; do
      [ ! -s "$work/$file" ] || sed "s/^/$file: /" "$work/$file" >&2
    done
  fi
  { extra_cleanup; stop_process "$program_pid"; } >/dev/null 2>&1 || true
  for ((i = ${#cleanups[@]} - 1; i >= 0; i--)); do eval "${cleanups[i]}" >/dev/null 2>&1 || true; done
  if [ -n "${KEEP_WORK:-}" ]; then echo "work folder kept: $work" >&2; else rm -rf "$work"; fi
  exit "$status"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }
need() {  # tool...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/packages lists it)"
  done
}

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false when SECONDS pass first.
wait_for() {
  local end=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
  shift
  until "$@"; do
    [ "${EPOCHREALTIME//[!0-9]/}" -lt "$end" ] || return 1
    sleep 0.1
  done
}
# wait_until SECONDS WHAT COMMAND...: the same, failing with WHAT.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  wait_for "$seconds" "$@" || fail "$what (waited $seconds s)"
}

# Running, and not a zombie that nobody reaps (as in a container without an init).
alive() { [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }
gone() { ! alive "$1"; }
# Ends a process the script started (SIGTERM, also when stopped; SIGKILL after 5 s); nothing for
# "" or an ended one.
stop_process() {
  [ -n "${1:-}" ] && kill "$1" 2>/dev/null || return 0
  kill -CONT "$1" 2>/dev/null || true
  wait_for 5 gone "$1" || kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# True when something listens on 127.0.0.1:PORT, read from the kernel's table without connecting
# (a one-shot server such as `ffmpeg -listen 1` would take a probe for its client).
listening() {
  local hex
  hex=$(printf '%04X' "$1")
  { cat /proc/net/tcp /proc/net/tcp6 2>/dev/null || true; } |
    awk -v p=":$hex" '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }'
}
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    listening "$port" || { echo "$port"; return 0; }
  done
  fail "no free port"
}

# An X server of the test's own on a display number of its choosing (parallel tests never
# collide); exports DISPLAY, and QUILLON_DESKTOP_SOURCE=x11.
start_xvfb() {  # WIDTHxHEIGHT [Xvfb option...]
  local size=$1
  shift
  need Xvfb
  Xvfb -displayfd 3 -screen 0 "${size}x24" -noreset -nolisten tcp "$@" 3>"$work/xvfb.display" \
    >/dev/null 2>&1 &
  at_exit stop_process $!
  wait_until 10 "Xvfb did not start" test -s "$work/xvfb.display"
  DISPLAY=":$(head -n 1 "$work/xvfb.display")"
  # The program publishes this server's desktop even when the tests run on a Wayland desktop.
  export DISPLAY QUILLON_DESKTOP_SOURCE=x11
}

# A PulseAudio daemon of the test's own with the tests' microphone
# (devices/testing/test_microphone.pa), exported as PULSE_SERVER.
start_pulseaudio() {
  local dir=$work/pulse
  mkdir -p "$dir"
  sed "s|=SOCKET$|=$dir/native|" "$source_dir/devices/testing/test_microphone.pa" >"$dir/test.pa"
  (unset PULSE_SERVER; XDG_RUNTIME_DIR="$dir" HOME="$dir" exec pulseaudio -n --daemonize=no \
     --exit-idle-time=-1 --use-pid-file=no --system=no --disallow-exit --log-target=stderr \
     -F "$dir/test.pa") >"$dir/log" 2>&1 &
  at_exit stop_process $!
  export PULSE_SERVER="unix:$dir/native"
  wait_for 8 pulseaudio_answers || { cat "$dir/log" >&2; fail "the test sound server did not start"; }
}
pulseaudio_answers() { timeout 2 pactl info >/dev/null 2>&1; }

# A Wayland session's screen sharing without a compositor: a private session bus, PipeWire with
# WirePlumber and the ScreenCast stand-in (capture/testing/screencast_portal_standin) serving the
# tests' pattern, in $work/wayland. Exports what the program needs to find them and to choose the
# portal, and removes DISPLAY: no X server is there to fall back on.
#   start_screencast_standin [OPTION...]  (again) the stand-in alone, e.g. --refuse
#   standin METHOD [ARG...]               a call of its control interface (SetPointer 280 200)
wayland_dir=$work/wayland
start_screencast_desktop() {
  need gdbus
  mkdir -p "$wayland_dir"
  export XDG_RUNTIME_DIR=$wayland_dir HOME=$wayland_dir XDG_CONFIG_HOME=$wayland_dir/config \
    XDG_STATE_HOME=$wayland_dir/state DBUS_SESSION_BUS_ADDRESS=unix:path=$wayland_dir/bus \
    XDG_SESSION_TYPE=wayland
  unset DISPLAY WAYLAND_DISPLAY PIPEWIRE_REMOTE QUILLON_DESKTOP_SOURCE
  start_session "$wayland_dir"
  start_screencast_standin "$@"
}
# start_session DIR: a private session bus (DIR/bus) and PipeWire with WirePlumber, their logs
# in DIR, each started through the command prefix in the array launcher (none by default).
launcher=()
start_session() {
  need dbus-daemon pipewire wireplumber
  printf '%s' "<busconfig><type>session</type><listen>unix:path=$1/bus</listen><policy \
context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow \
own=\"*\"/></policy></busconfig>" >"$1/bus.conf"
  in_background "$1/bus.log" dbus-daemon --config-file="$1/bus.conf" --nofork
  wait_until 10 "the test session bus did not start" test -S "$1/bus"
  in_background "$1/pipewire.log" pipewire
  wait_until 10 "PipeWire did not start" test -S "$1/pipewire-0"
  in_background "$1/wireplumber.log" wireplumber
}
in_background() {  # log command...: through the launcher, stopped on exit
  local log=$1
  shift
  "${launcher[@]}" "$@" >"$log" 2>&1 &
  at_exit stop_process $!
}
standin_pid=""
start_screencast_standin() {
  stop_process "$standin_pid"
  [ -n "$standin_pid" ] || at_exit stop_screencast_standin
  "$build_dir/capture/screencast_portal_standin" "$@" >"$wayland_dir/standin.log" 2>&1 &
  standin_pid=$!
  wait_until 10 "the ScreenCast stand-in did not start" grep -qs ready "$wayland_dir/standin.log"
}
stop_screencast_standin() { stop_process "$standin_pid"; }
standin() {  # method [arg...]
  local method=$1
  shift
  gdbus call --session --dest org.freedesktop.portal.Desktop --object-path /org/quillon/StandIn \
    --method "org.quillon.ScreenCastStandIn.$method" "$@"
}

# Shows the program the build's test cameras ("Quillon Test Camera A" with the SMPTE bars, "... B"
# red, MJPG only) and nothing from a stale registry.
use_test_cameras() {
  export GST_PLUGIN_PATH=$build_dir/test-gst-plugins GST_REGISTRY=$work/gst-registry.bin
}

# nginx-rtmp in $rtmp_dir on a free port (or PORT, to come back on the same one), recording into
# $rtmp_dir/record; sets rtmp_port. Stopped on exit, and by stop_rtmp_server (gracefully: the
# recordings are finished) or stop_rtmp_server kill (at once, as a crash would).
rtmp_dir=$work/rtmp
start_rtmp_server() {  # [port]
  [ -n "${rtmp_port:-}" ] || at_exit "$rtmp_server" stop "$rtmp_dir"
  rtmp_port=$("$rtmp_server" start "${1:-auto}" "$rtmp_dir") || fail "the RTMP server did not start"
}
stop_rtmp_server() { "$rtmp_server" "${1:-stop}" "$rtmp_dir" >/dev/null; }

# A copy of the program folder in $work/program (all of it, or the FILEs) with the shipped
# config.ini from the sources (the program folder's may hold an address from an earlier run), so
# that what a test does to config.ini stays there, and an empty $work/elsewhere to run it from:
# the program finds its folder itself. Sets app and config.
copy_program() {  # [file...]
  local file
  mkdir -p "$work/program" "$work/elsewhere"
  if [ $# -eq 0 ]; then cp -r "$program_dir/." "$work/program/"; fi
  for file in "$@"; do cp "$program_dir/$file" "$work/program/"; done
  app=$work/program/quillon-publisher$exe
  config=$work/program/config.ini
  cp "$shipped_config" "$config"
}
# set_config KEY=VALUE...: sets keys of the copy's config.ini, keeping its line ends.
set_config() {
  local line
  for line in "$@"; do sed -i "s/^${line%%=*}=[^\r]*/$line/" "$config"; done
}
config_has() { tr -d '\r' <"$config" | grep -q -- "$1"; }  # pattern

# A user of the test's own in $work/home, without a desktop session: the link handler the program
# registers stays there, and xdg-mime answers from these folders alone.
use_private_home() {
  mkdir -p "$work/home" "$work/runtime"
  chmod 700 "$work/runtime"
  export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/home/.local/share \
    XDG_CONFIG_HOME=$work/home/.config XDG_DATA_DIRS=/usr/share XDG_CONFIG_DIRS=/etc/xdg \
    QTWEBENGINE_DISABLE_SANDBOX=1
  unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
}
logged() { grep -q -- "$1" "$work/program.log"; }  # pattern: in the log of the program started

# Runs the copy with the arguments for at most 30 s, its output in $work/out and $work/err (with
# plain line ends); an earlier run's encoder log is removed first. Returns the exit code.
run() {
  local status=0
  rm -f "$work/log"
  timeout 30 ${wine_loader:+"$wine_loader"} "$app" "$@" </dev/null >"$work/out" 2>"$work/err" || status=$?
  sed -i 's/\r$//' "$work/out" "$work/err"
  return "$status"
}
# run_expecting CODE WHAT ARG...: fails unless the run ends with exit code CODE.
run_expecting() {
  local code=$1 what=$2 status=0
  shift 2
  run "$@" || status=$?
  [ "$status" -eq "$code" ] || fail "$what exited with $status, not $code"
}
expect_line() {  # file exact-line
  grep -qxF -- "$2" "$1" || fail "no line \"$2\" in $(basename "$1")"
}

# The launch URL of a plain address such as rtmp://HOST:PORT/APP/STREAM&CLASS: the address as
# stored (byte i raised by i mod 3 + 1), every byte escaped. Callers add the tail ("&...").
launch_url() {  # plain-address
  local plain=$1 url=quillon.publish:// i byte
  for ((i = 0; i < ${#plain}; i++)); do
    printf -v byte '%d' "'${plain:i:1}"
    printf -v byte '%%%02X' $((byte + i % 3 + 1))
    url+=$byte
  done
  echo "$url"
}

# Puts the recording stand-in for the encoder library into the copy of the program folder; it
# logs every call into $work/log, read back by the helpers below.
use_fake_encoder() {
  local fake=$build_dir/capture/libfake_verbena.so name=libverbena.so
  [ -z "$exe" ] || fake=$build_dir/capture/libfake_verbena.dll name=Verbena.dll
  [ -f "$fake" ] || fail "$fake is not built"
  cp "$fake" "$work/program/$name"
  export FAKE_VERBENA_LOG=$work/log
}
encoder_log() { [ -f "$work/log" ] && tr -d '\r' <"$work/log"; }
calls() { encoder_log | grep -c "^$1 " || true; }  # function name: how many calls
log_has() { encoder_log | grep -c -- "$1" >/dev/null; }  # pattern (all of the log is read)

# X windows by name: the first one mapped and viewable (xdotool's own --onlyvisible also returns
# hidden helper windows of the same name now and then); wait_window waits for one. Print its id.
find_window() {  # name-pattern
  local id
  for id in $(xdotool search --name "$1" 2>/dev/null); do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
wait_window() { wait_for "$1" find_window "$2"; }  # seconds name-pattern
# click X Y [xdotool click option...]: a click at (X, Y) in dialog units of the Qt window $window,
# WIDTH x HEIGHT as `xdotool getwindowgeometry --shell` sets them: its template is 638 x 385, and
# its classroom page may have been narrowed by $narrower pixels.
click() {
  xdotool mousemove --window "$window" $(($1 * (WIDTH + ${narrower:-0}) / 638)) \
    $(($2 * HEIGHT / 385)) click "${@:3}" 1
}
no_window() { ! find_window "$1" >/dev/null; }  # name-pattern

# Keys go through the X server's keyboard, not as events sent to one window: Wine then sees both
# press and release, and no key stays "held" for the next window. The X focus follows the
# pointer (no window manager), so the pointer goes over the window first.
type_key() {  # X window, key
  xdotool mousemove --window "$1" 8 8 key "$2"
}
# Answers the message box, captioned with the program's name, with Enter.
answer_message() {  # what the box is about, [seconds to wait for it]
  local box
  box=$(wait_window "${2:-10}" '^quillon-publisher$') || fail "no message box: $1"
  type_key "$box" Return
  wait_until 10 "the message box stayed: $1" no_window '^quillon-publisher$'
}
# press_class_button WINDOW: clicks 上课 or 下课 of the Windows program's main window. Both share
# one place in dialog template 102: x 41, y 54, 75 x 16 dialog units in a client area of 638 x 385
# (the template's 373 and the status line).
# The X window is the whole window; Wine's dialog frame is 3 pixels on each side and its caption
# 19 pixels high. Scaling by the client area's size keeps the place right whatever font stands in
# for the dialog's.
press_class_button() {
  local geometry width height frame=3 caption=19
  geometry=$(xwininfo -id "$1")
  width=$(sed -n 's/^ *Width: //p' <<<"$geometry")
  height=$(sed -n 's/^ *Height: //p' <<<"$geometry")
  xdotool mousemove --window "$1" $((frame + (41 * 2 + 75) * (width - 2 * frame) / (2 * 638))) \
    $((frame + caption + (54 * 2 + 16) * (height - 2 * frame - caption) / (2 * 385))) click 1
}
# grab_screen FILE WIDTHxHEIGHT [X,Y]: a PNG of that part of the screen of DISPLAY.
grab_screen() {
  mkdir -p "$(dirname "$1")"
  ffmpeg -loglevel error -y -f x11grab -video_size "$2" -i "$DISPLAY+${3:-0,0}" -frames:v 1 "$1"
}
# take_screenshot FILE WIDTHxHEIGHT: the same of the whole screen; fails when it is nearly blank
# (fewer than 16 grey levels: a bare desktop, or a window that never painted).
take_screenshot() {
  grab_screen "$1" "$2" || fail "no screenshot"
  local levels
  levels=$(ffmpeg -loglevel error -i "$1" -f rawvideo -pix_fmt gray - | od -An -v -tu1 |
    tr -s ' ' '\n' | sed '/^$/d' | sort -un | wc -l)
  [ "$levels" -ge 16 ] || fail "the screenshot $1 is nearly blank ($levels grey levels)"
}

# Prints "R G B" of pixel (x, y) (from the top) of a recording's frame at SECONDS (default 2).
# The frame is decoded once for all the pixels asked of it (the key names file, time and version).
pixel() {  # file x y [seconds]
  local key
  key="$1 ${4:-2} $(stat -c '%i %Y %s' "$1")"
  if [ "$(cat "$work/frame.key" 2>/dev/null)" != "$key" ]; then
    ffmpeg -loglevel error -ss "${4:-2}" -i "$1" -frames:v 1 -f rawvideo -pix_fmt rgb24 \
      "$work/frame.rgb" -y
    ffprobe -v error -select_streams v:0 -show_entries stream=width -of csv=p=0 "$1" \
      >"$work/frame.width"
    echo "$key" >"$work/frame.key"
  fi
  python3 - "$work/frame.rgb" "$(cat "$work/frame.width")" "$2" "$3" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
w, x, y = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
i = (y * w + x) * 3
print(data[i], data[i + 1], data[i + 2])
PY
}
# True when the recording holds at least 20 pictures that decode.
decodes() {  # file
  [ -n "$1" ] && [ "$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of csv=p=0 "$1")" -ge 20 ]
}
# The RTMP server's newest recording with PATTERN in its name; fails when there is none.
recorded() {  # [pattern]
  local file
  file=$(ls -t "$rtmp_dir"/record/*"${1:-}"*.flv 2>/dev/null | head -n 1)
  [ -n "$file" ] || fail "nothing recorded${1:+ of $1}"
  echo "$file"
}
# check_video FILE [WIDTH,HEIGHT]: H.264 (of that size), at least 20 pictures, decoding without
# an error.
check_video() {
  local size name
  name=$(basename "$1")
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$1")
  [ -z "${2:-}" ] || [ "$size" = "h264,$2" ] || fail "$name is $size, expected h264,$2"
  decodes "$1" || fail "$name holds fewer than 20 pictures"
  ffmpeg -v error -xerror -i "$1" -f null - || fail "$name does not decode cleanly"
}
bright_grey() { read -r r g b <<< "$1"; [ "$r" -gt 140 ] && [ "$g" -gt 140 ] && [ "$b" -gt 140 ]; }
dark() { read -r r g b <<< "$1"; [ "$r" -lt 60 ] && [ "$g" -lt 60 ] && [ "$b" -lt 60 ]; }
reddish() { read -r r g b <<< "$1"; [ "$r" -gt 150 ] && [ "$g" -lt 100 ] && [ "$b" -lt 100 ]; }
bluish() { read -r r g b <<< "$1"; [ "$b" -gt 150 ] && [ "$r" -lt 100 ] && [ "$g" -lt 100 ]; }

# The frequency of the recording's tone over 2 s from FROM (default 1), from the spans between
# its rising zero crossings where it sounds; spans far from the typical one (a stretch of silence
# the encoder filled while the sound device was late, a block lost on the way) do not count.
tone() {  # file [from]
  ffmpeg -loglevel error -i "$1" -ss "${2:-1}" -t 2 -ac 1 -ar 44100 -f s16le "$work/sound.raw" -y
  python3 - "$work/sound.raw" <<'PY'
import array, sys
s = array.array("h", open(sys.argv[1], "rb").read())
up = [i for i in range(1, len(s)) if s[i - 1] < 0 <= s[i] and max(map(abs, s[i:i + 60])) >= 1000]
spans = sorted(b - a for a, b in zip(up, up[1:]))
typical = spans[len(spans) // 2] if spans else 0
good = [d for d in spans if 0.8 * typical < d < 1.2 * typical]
print(round(44100 * len(good) / sum(good)) if len(good) > 400 else 0)
PY
}
# The test microphone's 440 Hz within 6 %: sound blocks lost on the way (a loaded machine, Wine's
# 32-bit sound) raise the estimate a little (up to 461 Hz seen); a wrong sample rate (44.1 against
# 48 kHz) is 9 % off and still fails.
near_440() { [ "$1" -ge 414 ] && [ "$1" -le 466 ]; }

# Wine in the build's prefix (or the caller's WINEPREFIX), made when missing; sets wine_loader (run
# and the scripts start Windows programs with it) and exe. Run by hand, the build is build-win64.
use_wine() {
  if [ -z "${QUILLON_BUILD_DIR:-}" ]; then
    build_dir=$source_dir/build-win64 program_dir=${QUILLON_PROGRAM_DIR:-$source_dir/build-win64/bin}
  fi
  export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix} WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer dialogs: the tests need neither.
  export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
  # The build's own loader: wine64, or the 32-bit wine for a 32-bit build in a 32-bit prefix.
  wine_loader=${QUILLON_WINE:-/usr/lib/wine/wine64}
  [ -z "${QUILLON_WINE_ARCH:-}" ] || export WINEARCH=$QUILLON_WINE_ARCH
  [ -x "$wine_loader" ] || wine_loader=$(command -v wine64 || command -v wine) || fail "wine is not installed"
  [ -f "$WINEPREFIX/system.reg" ] || "$source_dir/scripts/wine" start "$WINEPREFIX" >/dev/null
  exe=.exe
}
# open_window ARG...: the Windows program with the ARGs on the Wine desktop $desktop (new_desktop),
# in the background ($program_pid); sets main_window once its window shows.
open_window() {
  timeout -k 5 90 "$wine_loader" "${desktop[@]}" "$app" "$@" </dev/null >"$work/out" 2>"$work/err" &
  program_pid=$!
  main_window=$(wait_window 20 '^新一代网络教学系统.* Build ') || fail "the main window did not appear"
}
# Wine's drive Z: is the root of the Unix file system.
windows_path() { echo "Z:${1//\//\\}"; }

# Sets desktop to the arguments that put a Windows program on a Wine virtual desktop of its own,
# as in "$wine_loader" "${desktop[@]}" PROGRAM: the prefix's default desktop belongs to whichever Wine
# program started first, maybe one without an X display where no window can be made, and the
# last run's desktop may still be closing. explorer does not hand on the program's exit code.
desktops=0
new_desktop() {  # WIDTHxHEIGHT
  desktops=$((desktops + 1))
  desktop=(explorer "/desktop=quillon_$$_$desktops,$1")
}

# check_gtest_report REPORT WHAT [COUNT]: the gtest XML report says that COUNT tests (default:
# one or more) ran and none failed, was skipped or disabled.
check_gtest_report() {
  [ -s "$1" ] || fail "$2 did not finish"
  if ! grep -q "<testsuites tests=\"${3:-[1-9][0-9]*}\" failures=\"0\" disabled=\"0\" errors=\"0\"" "$1"; then
    grep -B2 -A6 '<failure' "$1" >&2 || true
    fail "$2 failed"
  fi
  if grep -q '<skipped' "$1"; then fail "$2 skipped tests"; fi
}
# wine_gtest WHAT SECONDS WIDTHxHEIGHT|- PROGRAM [ARG...]: runs a gtest program under Wine, on a
# desktop of its own unless "-", for at most SECONDS; fails unless all its tests ran and passed.
wine_gtest() {
  local what=$1 seconds=$2 size=$3 report=$work/report.xml
  shift 3
  [ -f "$1" ] || fail "$1 is not built"
  desktop=()
  [ "$size" = - ] || new_desktop "$size"
  rm -f "$report"
  timeout -k 5 "$seconds" "$wine_loader" "${desktop[@]}" "$@" --gtest_color=no \
    "--gtest_output=xml:$(windows_path "$report")" 2>&1 | grep -v -e '^fixme:' -e ':fixme:' || true
  check_gtest_report "$report" "$what"
}

# The dialogs' font, 宋体, is not part of Wine: a CJK font of the system stands in for it in the
# prefix (only the look of screenshots depends on it).
use_cjk_font() {
  local font name
  font=$(fc-list :lang=zh family 2>/dev/null | grep -v -i mono | head -n1 | cut -d, -f1 || true)
  [ -n "$font" ] || return 0
  for name in "宋体" SimSun; do
    timeout 30 "$wine_loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /t REG_SZ \
      /d "$font" /f >/dev/null 2>&1 || true
  done
}
