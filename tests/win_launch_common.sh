# Sourced by the end-to-end tests of the Windows program: Wine in the build's prefix (or the
# caller's WINEPREFIX), a work folder removed on every exit, a private Xvfb on demand and polling
# with a deadline. Callers stop what they started themselves in extra_cleanup.
build_dir=${QUILLON_BUILD_DIR:?}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix} WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)

work=$(mktemp -d)
xvfb_pid=""
extra_cleanup() { :; }
cleanup() {
  extra_cleanup || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL: $*" >&2
  for f in out err log; do [ -f "$work/$f" ] && sed "s/^/$f: /" "$work/$f" >&2; done
  exit 1
}

# Starts an X server of the test's own and sets xvfb_display (":N").
start_xvfb() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/packages lists xvfb)"
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  xvfb_display=":$(head -n 1 "$work/display")"
}

# Runs the command until it succeeds; fails after the given number of seconds.
#   wait_until SECONDS WHAT COMMAND...
wait_until() {
  local seconds=$1 what=$2
  local deadline=$((SECONDS + seconds))
  shift 2
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what (waited $seconds s)"
    sleep 0.2
  done
}
