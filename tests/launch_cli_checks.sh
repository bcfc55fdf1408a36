# shellcheck shell=bash disable=SC2034,SC2154  # url is for the scripts; work, config from lib.sh
# The command-line checks that the Linux and the Windows program share, sourced by
# launch_cli_test.sh and win_launch_cli.sh after copy_program with the shipped config.ini.
# The launch URL of the class "class42" on rtmp://127.0.0.1:1935/live, as config.ini stores it.
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
stored_address='^Address=svpq<2035803/212<4:580nlwg)dndtu73$'

# --version, --help, an unknown option (an error, not a launch URL), and --show-settings while
# the shipped config.ini has no address yet: 参数有误! and a failure.
check_options() {
  run --version || fail "--version"
  grep -q '1\.0\.0\.1' "$work/out" || fail "--version does not print 1.0.0.1"
  run --help || fail "--help"
  grep -q -- '--show-settings' "$work/out" || fail "--help does not list --show-settings"
  cp "$config" "$work/config.before"
  run_expecting 2 "an unknown option" --frobnicate
  grep -q 'unknown option "--frobnicate"' "$work/err" || fail "no clear error for an unknown option"
  cmp -s "$config" "$work/config.before" || fail "an unknown option changed config.ini"
  if run --show-settings; then fail "--show-settings without address succeeded"; fi
  grep -q '参数有误!' "$work/err" || fail "no 参数有误! on stderr"
  expect_line "$work/out" "Bitrate=500"
}

# After a run with $url: the address stored beside the other keys, and what --show-settings
# makes of it.
check_url_stored() {
  config_has "$stored_address" || fail "address not stored"
  config_has '^FrameRate=15$' || fail "other keys lost"
  run --show-settings || fail "--show-settings after a launch URL"
  expect_line "$work/out" "PublishUrl=rtmp://127.0.0.1:1935/live"
  expect_line "$work/out" "StreamName=class42"
  expect_line "$work/out" "VideoWidth=640"
  expect_line "$work/out" "Chanels=2"
  [ "$(grep -c '=' "$work/out")" -eq 22 ] || fail "expected 22 Key=value lines"
}

# config.ini a folder (any read error): --show-settings and --headless end with a clear message,
# not a crash, and print no settings. A read-only config.ini keeps every byte when a link would
# change it.
check_unusable_config() {
  mv "$config" "$work/config.kept"
  mkdir "$config"
  run_expecting 2 "--show-settings with config.ini a folder" --show-settings
  grep -q '无法读取设置文件 config.ini' "$work/err" || fail "--show-settings: config.ini a folder not told"
  [ ! -s "$work/out" ] || fail "--show-settings printed settings it could not read"
  run_expecting 1 "--headless with config.ini a folder" --headless --duration 1 "$url"
  grep -q '无法读取设置文件 config.ini' "$work/err" || fail "--headless: config.ini a folder not told"
  rmdir "$config"
  mv "$work/config.kept" "$config"

  cp "$config" "$work/config.before"
  chmod a-w "$config"
  readonly_status=0
  run "$url" || readonly_status=$?
  chmod u+w "$config"
  cmp -s "$config" "$work/config.before" || fail "a read-only config.ini was replaced"
}
