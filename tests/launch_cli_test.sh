#!/usr/bin/env bash
# The command line of quillon-publisher, run from a copy of the program folder: the launch URL and
# the fast class store the address in the folder's config.ini whatever the working directory,
# --show-settings prints what the window would read, with and without an X server.
set -euo pipefail
program_dir=${QUILLON_PROGRAM_DIR:?}

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
expect_line() {  # file, exact line
  grep -qxF -- "$2" "$1" || { cat "$1" >&2; fail "no line \"$2\" in $(basename "$1")"; }
}

mkdir "$work/program" "$work/elsewhere" "$work/home"
# The shipped config.ini from the sources: the one in the program folder may hold an address
# from an earlier run.
cp "$program_dir/quillon-publisher" "$work/program/"
cp "${QUILLON_SOURCE_DIR:-$(dirname "$0")/..}/resources/config.ini" "$work/program/"
# A plain start registers the link handler for the user: keep that inside the test's folder.
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
app="$work/program/quillon-publisher"
config="$work/program/config.ini"
cd "$work/elsewhere"   # the program must find its folder itself
unset DISPLAY
run() { timeout 20 "$app" "$@" >"$work/out" 2>"$work/err"; }

# --version and --help.
run --version || fail "--version"
grep -q '1\.0\.0\.1' "$work/out" || fail "--version does not print 1.0.0.1"
run --help || fail "--help"
grep -q -- '--show-settings' "$work/out" || fail "--help does not list --show-settings"

# An unknown option is an error, not a launch URL.
cp "$config" "$work/config.before"
if run --frobnicate; then fail "unknown option accepted"; else [ $? -eq 2 ] || fail "exit code"; fi
grep -q 'unknown option "--frobnicate"' "$work/err" || fail "no clear error for an unknown option"
cmp -s "$config" "$work/config.before" || fail "an unknown option changed config.ini"

# The shipped config.ini has no address yet: 参数有误! and exit code 2.
if run --show-settings; then fail "--show-settings without address succeeded"; fi
grep -q '参数有误!' "$work/err" || fail "no 参数有误! on stderr"
expect_line "$work/out" "Bitrate=500"

# A launch URL (escaped, carrying the scrambled address) stores the address; the window's
# absence is reported, not a failure.
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
run "$url" || fail "start with a launch URL"
[ ! -s "$work/out" ] || fail "a launch URL showed a message: $(cat "$work/out")"
grep -q '^Address=svpq<2035803/212<4:580nlwg)dndtu73$' "$config" || fail "address not stored"
grep -q '^FrameRate=15$' "$config" || fail "other keys lost"
run --show-settings || fail "--show-settings after a launch URL"
expect_line "$work/out" "PublishUrl=rtmp://127.0.0.1:1935/live"
expect_line "$work/out" "StreamName=class42"
expect_line "$work/out" "ScreenWidth=1280"
expect_line "$work/out" "Chanels=2"
[ "$(grep -c '=' "$work/out")" -eq 21 ] || fail "expected 21 Key=value lines"

# Started bare (or with one character): fast class on the default server, message on stdout.
QUILLON_DEFAULT_SERVER=rtmp.school.test run x || fail "fast class"
number=$(sed -n 's/.*课堂ID是\([0-9]*\),.*/\1/p' "$work/out")
[ -n "$number" ] || fail "no class number in: $(cat "$work/out")"
run --show-settings || fail "--show-settings after a fast class"
expect_line "$work/out" "PublishUrl=rtmp://rtmp.school.test:10086/encoder/zel/mp4:$number.mp4"
expect_line "$work/out" "StreamName=$number"

# Without a display the screen size stays as config.ini holds it.
sed -i -e 's/^ScreenWidth=.*/ScreenWidth=0/' -e 's/^FrameRate=.*/FrameRate=0/' "$config"
run --show-settings || fail "--show-settings without display"
expect_line "$work/out" "ScreenWidth=0"
grep -q 'DISPLAY is not set' "$work/err" || fail "no note about the missing display"
grep -q 'FrameRate=0 无效, 需要 1 到 60' "$work/err" || fail "no note about FrameRate=0"

# With an X server the zero size becomes the screen's, rounded down to a multiple of 4.
if command -v Xvfb >/dev/null; then
  timeout 30 Xvfb -displayfd 3 -screen 0 1366x770x24 -nolisten tcp 3>"$work/display" \
    >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  display_number=$(head -n 1 "$work/display")
  [ -n "$display_number" ] || fail "Xvfb did not start"
  DISPLAY=":$display_number" run --show-settings || fail "--show-settings with display"
  expect_line "$work/out" "ScreenWidth=1364"
  expect_line "$work/out" "ScreenHeight=768"
else
  echo "SKIP: no Xvfb, the display part is not tested"
fi
echo "PASS"
