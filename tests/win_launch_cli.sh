#!/usr/bin/env bash
# quillon-publisher.exe under Wine, run from a copy of the program folder while the working
# directory is elsewhere: the URL scheme points at the copy (unless its path is too long for the
# command text), a launch URL and a fast class store the address in the copy's config.ini,
# --show-settings reports it, and --headless publishes to the recording encoder library in place
# of Verbena.dll. No display: a message box then returns at once instead of waiting (Wine without
# an X server has no desktop to show it on).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/launch_cli_checks.sh"
use_wine
copy_program quillon-publisher.exe
cd "$work/elsewhere"
unset DISPLAY
registered_command() {  # the command that the link starts, in $work/out
  timeout 30 "$wine_loader" reg query 'HKCR\quillon.publish\shell\open\command' </dev/null 2>/dev/null |
    tr -d '\r' >"$work/out"
}

check_options

# A launch URL stores the address in the copy's config.ini and registers the copy, quoted.
run "$url" || true  # the window may have nothing to open on; the address counts
check_url_stored
windows_app=$(timeout 30 "$wine_loader" winepath -w "$app" 2>/dev/null | tr -d '\r')
registered_command
grep -qF "\"$windows_app\" \"%1\"" "$work/out" || fail "the link does not start \"$windows_app\""

# A copy whose path leaves no room for the command text: its address is stored all the same, and
# the link still starts the copy registered before rather than a cut path.
deep="$work/deep"
for _ in 1 2 3 4 5 6; do deep="$deep/$(printf 'f%.0s' $(seq 90))"; done
mkdir -p "$deep"
cp "$app" "$shipped_config" "$deep/"
timeout 30 "$wine_loader" "$deep/quillon-publisher.exe" "$url" </dev/null >/dev/null 2>&1 || true
tr -d '\r' <"$deep/config.ini" | grep -q "$stored_address" ||
  fail "the copy in a long path did not store the address in its own config.ini"
registered_command
grep -qF "\"$windows_app\" \"%1\"" "$work/out" || fail "a long path replaced the registration"

# Started with one character: a fast class on the default server; its message box has no desktop
# here, the class number shows in the settings.
QUILLON_DEFAULT_SERVER=rtmp.school.test run x || true
run --show-settings || fail "--show-settings after a fast class"
# Eight random digits whose leading zeros vanish: one to eight digits, the first not a zero.
number=$(sed -n 's/^StreamName=\([1-9][0-9]\{0,7\}\)$/\1/p' "$work/out")
[ -n "$number" ] || fail "no class number of 1 to 8 digits after a fast class"
expect_line "$work/out" "PublishUrl=rtmp://rtmp.school.test:10086/encoder/zel/mp4:$number.mp4"

# A zero screen size becomes the primary display's, rounded down to a multiple of 4.
set_config ScreenWidth=0
run --show-settings || fail "--show-settings with ScreenWidth=0"
width=$(sed -n 's/^ScreenWidth=//p' "$work/out")
[ "${width:-0}" -gt 0 ] && [ $((width % 4)) -eq 0 ] || fail "ScreenWidth=$width from the display"

# --headless with the recording encoder library as Verbena.dll, on a private X server.
start_xvfb 640x480
use_fake_encoder
set_config VideoStyle=0 HaveAudio=0 ScreenWidth=320 ScreenHeight=240 FrameRate=20
run --headless --duration 1 "$url" || fail "--headless exited with $?"
encoder_log | sed -n 1p | grep -q '^CreateEncoder .*width=320 height=240 .*url=rtmp://127.0.0.1' ||
  fail "encoder not created with the desktop size and the stored address"
pictures=$(calls PutVideoData)
[ "$pictures" -ge 10 ] && [ "$pictures" -le 25 ] || fail "$pictures pictures in 1 s at 20 frames/s"
log_has '^Stop' || fail "the encoder was not stopped"
echo "PASS"
