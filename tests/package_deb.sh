#!/usr/bin/env bash
# The Debian package as a teacher gets it: scripts/package deb builds it (lintian clean of
# errors), apt-get installs it with its dependencies, and a user of its own (made here, removed
# after) runs the installed program: --version, a first --show-settings that makes the teacher's
# config.ini from the shipped one, a headless class from a launch URL to nginx-rtmp (the address
# in the teacher's config.ini, the server's recording and the local one in the teacher's videos
# folder decode, the installed files untouched) and a link opened with xdg-open that starts the
# installed program. apt-get purge then leaves nothing of ours in /opt or /usr. Needs root.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ "$(id -u)" -eq 0 ] || fail "installing a package needs root"
need lintian ffprobe runuser useradd xdg-open
! dpkg-query -W quillon-publisher >/dev/null 2>&1 || fail "quillon-publisher is installed already; remove it first"
cd /

package=$("$source_dir/scripts/package" deb 2>"$work/err" | tail -n 1) || fail "scripts/package deb failed"
version=$(dpkg-deb -f "$package" Version)
at_exit apt-get purge -y -qq quillon-publisher
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >"$work/out" 2>&1 || fail "apt-get install"
[ "$(/usr/bin/quillon-publisher --version)" = "quillon-publisher $version" ] || fail "--version"
pass "built, lintian clean of errors, installed, --version $version"

user=qptest$$
home=/home/$user
useradd --create-home --home-dir "$home" --shell /bin/sh "$user" || fail "useradd"
# Last: whatever the user still runs is ended by id, then the user and its home go.
at_exit userdel --remove "$user"
at_exit end_user_processes
end_user_processes() { local p; for p in $(pgrep -u "$user" || true); do stop_process "$p"; done; }
as_user() {
  runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    DISPLAY="$DISPLAY" "$@"
}
teacher_config=$home/.config/quillon-publisher/config.ini
stored() { as_user /usr/bin/quillon-publisher --show-settings 2>/dev/null | grep -qx "StreamName=$1"; }
start_xvfb 640x480
start_rtmp_server

# First use: the teacher's config.ini is made from the shipped one, and named.
as_user /usr/bin/quillon-publisher --show-settings >"$work/out" 2>"$work/err" || true
grep -qF "settings file: $teacher_config" "$work/err" || fail "--show-settings does not name $teacher_config"
cmp -s "$teacher_config" /opt/quillon-publisher/config.ini || fail "the teacher's config.ini is not the shipped one"
[ "$(stat -c %U "$teacher_config")" = "$user" ] || fail "the teacher's config.ini is not the teacher's"

# A headless class from a launch URL, recorded locally into the videos folder user-dirs.dirs names.
config=$teacher_config
set_config ScreenWidth=320 ScreenHeight=240 HaveAudio=0 Record=1
# As xdg-user-dirs-update writes it: $HOME stays for the reader to expand.
# shellcheck disable=SC2016
echo 'XDG_VIDEOS_DIR="$HOME/Filme"' >"$home/.config/user-dirs.dirs"
as_user /usr/bin/quillon-publisher --headless --duration 3 \
  "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/pkg&4711")&" >"$work/out" 2>"$work/err" ||
  fail "the headless class ended with $?"
stored 4711 || fail "the link's address is not in the teacher's config.ini"
stop_rtmp_server
decodes "$(find "$rtmp_dir/record" -name '*.flv' | head -n 1)" || fail "the server's recording does not decode"
decodes "$(find "$home/Filme" -name 'pkg-*.flv' -user "$user" | head -n 1)" ||
  fail "no local recording of the teacher's in the videos folder"
dpkg --verify quillon-publisher >"$work/out" || fail "the class changed installed files"
[ ! -s "$work/out" ] || fail "the class changed installed files"
pass "a headless class: the address in the teacher's config.ini, both recordings decode"

# A link opened with xdg-open starts the installed program (the system's desktop entry; the
# user has no handler of its own yet), which stores its address.
installed_program() {
  local p
  for p in $(pgrep -u "$user" || true); do
    [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = /opt/quillon-publisher/quillon-publisher ] && return 0
  done
  return 1
}
# xdg-open waits for the program, whose window stays open.
as_user xdg-open "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/opened&4712")&" >"$work/out" 2>&1 &
at_exit stop_process $!
wait_until 30 "xdg-open did not start the installed program" installed_program
wait_until 30 "the link's address did not reach the teacher's config.ini" stored 4712
end_user_processes
pass "xdg-open started the installed program"

apt-get purge -y -qq quillon-publisher >"$work/out" 2>&1 || fail "apt-get purge"
left=$(find /opt /usr -name '*quillon*' 2>/dev/null)
[ -z "$left" ] || fail "left after purge: $left"
pass "purged, nothing left in /opt or /usr"
