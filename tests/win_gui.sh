# Sourced by the Windows GUI tests, which define fail, $wine64, WINEPREFIX and DISPLAY.

# The dialogs' font, 宋体, is not part of Wine: a CJK font of the system stands in for it in the
# prefix (only the look of screenshots depends on it).
use_cjk_font() {
  local font name
  font=$(fc-list :lang=zh family 2>/dev/null | grep -v -i mono | head -n1 | cut -d, -f1 || true)
  [ -n "$font" ] || return 0
  for name in "宋体" SimSun; do
    timeout 30 "$wine64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /t REG_SZ \
      /d "$font" /f >/dev/null 2>&1 || true
  done
}

# Saves the whole screen of DISPLAY as a PNG and fails when it is nearly blank (fewer than
# 16 grey levels: a bare desktop, or a window that never painted).
#   take_screenshot FILE WIDTHxHEIGHT
take_screenshot() {
  mkdir -p "$(dirname "$1")"
  ffmpeg -loglevel error -y -f x11grab -video_size "$2" -i "$DISPLAY" -frames:v 1 "$1" ||
    fail "no screenshot"
  local levels
  levels=$(ffmpeg -loglevel error -i "$1" -f rawvideo -pix_fmt gray - | od -An -v -tu1 |
    tr -s ' ' '\n' | sed '/^$/d' | sort -un | wc -l)
  [ "$levels" -ge 16 ] || fail "the screenshot $1 is nearly blank ($levels grey levels)"
}
