#!/usr/bin/env bash
# quillon-publisher.exe under Wine, run from a copy of the program folder while the working
# directory is elsewhere: the URL scheme points at the copy (unless its path is too long for the
# command text), a launch URL and a fast class store
# the address in the copy's config.ini, --show-settings reports it, and --headless publishes to
# the recording encoder library in place of Verbena.dll. No display: a message box then returns
# at once instead of waiting (Wine without an X server has no desktop to show it on).
set -euo pipefail
program_dir=${QUILLON_PROGRAM_DIR:?}
source_dir=${QUILLON_SOURCE_DIR:-$(dirname "$0")/..}
source "$(dirname "$0")/win_launch_common.sh"

expect_line() {  # file, exact line
  grep -qxF -- "$2" "$1" || fail "no line \"$2\" in $(basename "$1")"
}

mkdir "$work/program" "$work/elsewhere"
cp "$program_dir/quillon-publisher.exe" "$work/program/"
cp "$source_dir/resources/config.ini" "$work/program/"
app="$work/program/quillon-publisher.exe"
config="$work/program/config.ini"
cd "$work/elsewhere"  # the program must find its folder itself
unset DISPLAY
# Windows programs end their lines with CR LF; the checks read plain lines.
run() {
  local status=0
  timeout 30 "$wine64" "$app" "$@" </dev/null >"$work/out.raw" 2>"$work/err.raw" || status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
  return "$status"
}
config_has() { tr -d '\r' <"$config" | grep -q -- "$1"; }

# --version and --help on the standard output of a windowed program.
run --version || fail "--version"
grep -q '1\.0\.0\.1' "$work/out" || fail "--version does not print 1.0.0.1"
run --help || fail "--help"
grep -q -- '--show-settings' "$work/out" || fail "--help does not list --show-settings"
status=0
run --frobnicate || status=$?
[ "$status" -eq 2 ] || fail "an unknown option ended with $status, not 2"
grep -q 'unknown option "--frobnicate"' "$work/err" || fail "no clear error for an unknown option"

# The shipped config.ini has no address yet: 参数有误! and a failure.
if run --show-settings; then fail "--show-settings without address succeeded"; fi
grep -q '参数有误!' "$work/err" || fail "no 参数有误! on stderr"
expect_line "$work/out" "Bitrate=500"

# A launch URL stores the address in the copy's config.ini and registers the copy, quoted.
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
run "$url" || true  # the window may have nothing to open on; the address counts
config_has '^Address=svpq<2035803/212<4:580nlwg)dndtu73$' || fail "address not stored"
config_has '^FrameRate=15$' || fail "other keys lost"
windows_app=$(timeout 30 "$wine64" winepath -w "$app" 2>/dev/null | tr -d '\r')
timeout 30 "$wine64" reg query 'HKCR\quillon.publish\shell\open\command' </dev/null 2>/dev/null |
  tr -d '\r' >"$work/out"
grep -qF "\"$windows_app\" \"%1\"" "$work/out" || fail "the link does not start \"$windows_app\""

# A copy whose path leaves no room for the command text: its address is stored all the same, and
# the link still starts the copy registered before rather than a cut path.
deep="$work/deep"
for _ in 1 2 3 4 5 6; do deep="$deep/$(printf 'f%.0s' $(seq 90))"; done
mkdir -p "$deep"
cp "$app" "$source_dir/resources/config.ini" "$deep/"
timeout 30 "$wine64" "$deep/quillon-publisher.exe" "$url" </dev/null >/dev/null 2>&1 || true
tr -d '\r' <"$deep/config.ini" | grep -q '^Address=svpq<2035803/212<4:580nlwg)dndtu73$' ||
  fail "the copy in a long path did not store the address in its own config.ini"
timeout 30 "$wine64" reg query 'HKCR\quillon.publish\shell\open\command' </dev/null 2>/dev/null |
  tr -d '\r' >"$work/out"
grep -qF "\"$windows_app\" \"%1\"" "$work/out" || fail "a long path replaced the registration"

run --show-settings || fail "--show-settings after a launch URL"
expect_line "$work/out" "PublishUrl=rtmp://127.0.0.1:1935/live"
expect_line "$work/out" "StreamName=class42"
expect_line "$work/out" "ScreenWidth=1280"
expect_line "$work/out" "Chanels=2"
[ "$(grep -c '=' "$work/out")" -eq 21 ] || fail "expected 21 Key=value lines"

# Started with one character: a fast class on the default server; its message box has no desktop
# here, the class number shows in the settings.
QUILLON_DEFAULT_SERVER=rtmp.school.test run x || true
run --show-settings || fail "--show-settings after a fast class"
number=$(sed -n 's/^StreamName=\([0-9]\{8\}\)$/\1/p' "$work/out")
[ -n "$number" ] || fail "no 8-digit class number after a fast class"
expect_line "$work/out" "PublishUrl=rtmp://rtmp.school.test:10086/encoder/zel/mp4:$number.mp4"

# A zero screen size becomes the primary display's, rounded down to a multiple of 4.
sed -i -e 's/^ScreenWidth=[^\r]*/ScreenWidth=0/' "$config"
run --show-settings || fail "--show-settings with ScreenWidth=0"
width=$(sed -n 's/^ScreenWidth=//p' "$work/out")
[ "${width:-0}" -gt 0 ] && [ $((width % 4)) -eq 0 ] || fail "ScreenWidth=$width from the display"

# --headless with the recording encoder library as Verbena.dll, on a private X server.
fake=""
for candidate in "$build_dir/capture/libfake_verbena.dll" "$build_dir/capture/fake_verbena.dll"; do
  [ -f "$candidate" ] && fake=$candidate && break
done
status=0
run --headless --duration 1 || status=$?
if grep -q 'not available in this build' "$work/err"; then
  echo "SKIP: this build has no --headless; the headless part is not tested"
elif [ -z "$fake" ]; then
  echo "SKIP: no Windows fake encoder library in $build_dir/capture; the headless part is not tested"
else
  start_xvfb 640x480x24
  cp "$fake" "$work/program/Verbena.dll"
  sed -i -e 's/^VideoStyle=[^\r]*/VideoStyle=0/' -e 's/^HaveAudio=[^\r]*/HaveAudio=0/' \
    -e 's/^ScreenWidth=[^\r]*/ScreenWidth=320/' -e 's/^ScreenHeight=[^\r]*/ScreenHeight=240/' \
    -e 's/^FrameRate=[^\r]*/FrameRate=20/' "$config"
  export FAKE_VERBENA_LOG="$work/log"
  DISPLAY=$xvfb_display run --headless --duration 1 "$url" ||
    fail "--headless exited with $?"
  tr -d '\r' <"$work/log" >"$work/log.plain" && mv "$work/log.plain" "$work/log"
  head -n 1 "$work/log" | grep -q '^CreateEncoder .*width=320 height=240 .*url=rtmp://127.0.0.1' ||
    fail "encoder not created with the desktop size and the stored address"
  pictures=$(grep -c '^PutVideoData ' "$work/log" || true)
  [ "$pictures" -ge 10 ] && [ "$pictures" -le 25 ] || fail "$pictures pictures in 1 s at 20 frames/s"
  grep -q '^Stop' "$work/log" || fail "the encoder was not stopped"
fi
echo "PASS"
