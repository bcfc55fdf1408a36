#!/usr/bin/env bash
# The Windows installers: scripts/package builds the 64- and the 32-bit one from the program
# folders with the real Verbena.dll. The 64-bit one is run under wine64 in a fresh prefix (this
# kernel may run no 32-bit programs): a silent install puts the files into Program Files, the
# URL scheme's keys, a Start-menu shortcut and the Add/Remove Programs entry in place; the
# installed program answers --version and publishes a headless class from a launch URL to
# nginx-rtmp (the address in its config.ini, the server's recording decodes); a silent uninstall
# leaves only the teacher's config.ini, and one with /REMOVESETTINGS leaves nothing.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need ffprobe makensis xdotool
for arch in win64 win32; do
  "$source_dir/scripts/package" "$arch" >"$work/out" 2>"$work/err" || fail "scripts/package $arch"
  installer[${arch#win}]=$(tail -n 1 "$work/out")
done
file "${installer[32]}" | grep -q 'PE32 executable.*Intel 80386' || fail "the 32-bit installer is no 32-bit program"
pass "both installers built"

WINEPREFIX=$work/prefix
at_exit "$source_dir/scripts/wine" stop "$WINEPREFIX"
export WINEARCH=win64 QUILLON_WINE=/usr/lib/wine/wine64 QUILLON_WINE_ARCH=win64
use_wine
folder=$WINEPREFIX/drive_c/Program\ Files/Quillon\ Publisher
shortcut=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Quillon\ Publisher.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillonPublisher'
reg_value() {  # key, value name or "" for the default value: the value's data
  local which=(/v "$2")
  [ -n "$2" ] || which=(/ve)
  timeout 30 "$wine_loader" reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p'
}
ours_left() {
  reg_value 'HKCR\quillon.publish\shell\open\command' "" | grep -q . ||
    reg_value "$uninstall_key" DisplayName | grep -q . || [ -e "$shortcut" ]
}
install_silently() {
  timeout 120 "$wine_loader" "${installer[64]}" /S || fail "the silent install ended with $?"
}
# The uninstaller runs from a copy of itself and does not wait for it: wait for its last steps,
# the keys and the shortcut gone.
uninstall() {  # [option]
  timeout 60 "$wine_loader" "$(windows_path "$folder/uninstall.exe")" /S "$@" ||
    fail "the silent uninstall ended with $?"
  local waited=0
  while ours_left; do
    waited=$((waited + 1))
    [ "$waited" -lt 60 ] || fail "the uninstaller left the scheme's keys, its entry or the shortcut"
    sleep 0.5
  done
}

install_silently
for file in quillon-publisher.exe Verbena.dll AppFace.dll Tindlekit.dll face.dll config.ini \
    uninstall.exe licences/x264-COPYING.txt; do
  [ -f "$folder/$file" ] || fail "not installed: $file"
done
command='"C:\Program Files\Quillon Publisher\quillon-publisher.exe" "%1"'
[ "$(reg_value 'HKCR\quillon.publish\shell\open\command' "")" = "$command" ] ||
  fail "the URL scheme's command is not the installed program"
[ "$(reg_value 'HKCR\quillon.publish' 'URL Protocol')" = "$command" ] || fail "no URL Protocol value"
[ "$(reg_value "$uninstall_key" UninstallString)" = '"C:\Program Files\Quillon Publisher\uninstall.exe"' ] ||
  fail "no uninstaller in Add/Remove Programs"
strings -a "$shortcut" | grep -qF 'C:\Program Files\Quillon Publisher\quillon-publisher.exe' ||
  fail "no Start-menu shortcut to the program"
pass "installed: files, the URL scheme, the shortcut, Add/Remove Programs"

app=$folder/quillon-publisher.exe config=$folder/config.ini
run --version || fail "--version"
expect_line "$work/out" "quillon-publisher $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
  "$source_dir/build-win64/CMakeCache.txt")"
start_xvfb 640x480
start_rtmp_server
set_config ScreenWidth=320 ScreenHeight=240 HaveAudio=0
new_desktop 640x480
timeout 90 "$wine_loader" "${desktop[@]}" "$app" --headless --duration 3 \
  "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/setup&4711")&" </dev/null >"$work/out" 2>"$work/err" ||
  fail "--headless did not end"
wait_until 10 "the installed program did not end its class" grep -q "class ended" "$work/err"
run --show-settings || fail "--show-settings"
expect_line "$work/out" "StreamName=4711"
stop_rtmp_server
decodes "$(find "$rtmp_dir/record" -name '*.flv' | head -n 1)" || fail "the server's recording does not decode"
pass "the installed program: --version, a headless class, the address in its config.ini"

uninstall
[ "$(ls -A "$folder")" = config.ini ] || fail "left after uninstalling: $(ls -A "$folder")"
install_silently
uninstall /REMOVESETTINGS
[ ! -e "$folder" ] || fail "left after uninstalling with /REMOVESETTINGS: $(ls -A "$folder")"
pass "uninstalled: the teacher's config.ini stays unless /REMOVESETTINGS"
