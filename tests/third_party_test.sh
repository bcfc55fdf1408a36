#!/usr/bin/env bash
# scripts/third-party when things go wrong, with a stand-in apt-get and a cache of the test's own:
# a download that fails and a build that fails each say what failed and how to retry, exit 1, and
# leave no folder in the cache that a later run could take for a finished build.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export QUILLON_CACHE=$work/cache
mkdir -p "$work/fake-bin"
# apt-get that knows one source package version of each and fails to download any.
cat >"$work/fake-bin/apt-get" <<'FAKE'
#!/bin/sh
for argument; do
  case $argument in
    indextargets) echo "http://archive.invalid/debian/ $(. /etc/os-release; echo "$VERSION_CODENAME") main"; exit 0 ;;
    update) exit 0 ;;
    --print-uris) shift $(($# - 1)); echo "'http://archive.invalid/$1_1-1.dsc' $1_1-1.dsc 100 SHA256:00"; exit 0 ;;
    --download-only) echo "E: Failed to fetch http://archive.invalid/" >&2; exit 100 ;;
  esac
done
exit 0
FAKE
chmod +x "$work/fake-bin/apt-get"
third_party() { PATH=$work/fake-bin:$PATH "$source_dir/scripts/third-party" x86_64-w64-mingw32; }
nothing_cached() {
  [ -z "$(ls -A "$QUILLON_CACHE/third-party")" ] || fail "$1 left in the cache: $(ls -A "$QUILLON_CACHE/third-party")"
}

status=0
third_party >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "a failed download exited with $status"
grep -q "downloading the source package x264 failed" "$work/err" || fail "the failed download is not named"
grep -q "run scripts/third-party x86_64-w64-mingw32 again" "$work/err" || fail "no word on retrying"
[ ! -e "$QUILLON_CACHE/sources/x264_1-1" ] || fail "a failed download left a source folder"
nothing_cached "a failed download"
pass "a failed download says so and caches nothing"

# Unpacked sources whose x264 does not configure: the build stops there.
for package in x264 ffmpeg libyuv; do
  mkdir -p "$QUILLON_CACHE/sources/${package}_1-1"
  touch "$QUILLON_CACHE/sources/${package}_1-1/.unpacked"
done
printf '#!/bin/sh\necho "no working compiler" >&2\nexit 1\n' >"$QUILLON_CACHE/sources/x264_1-1/configure"
chmod +x "$QUILLON_CACHE/sources/x264_1-1/configure"
status=0
third_party >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "a failed build exited with $status"
grep -q "x86_64-w64-mingw32: x264 failed" "$work/err" || fail "the failed step is not named"
grep -q "no working compiler" "$work/err" || fail "the end of the build's log is not shown"
nothing_cached "a failed build"
pass "a failed build says which step failed and caches nothing"
echo "PASS"
