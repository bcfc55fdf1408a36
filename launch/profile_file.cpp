#include "launch/profile_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "base/atomic_file.h"
#include "base/log.h"

namespace quillon {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// One line of the text: its content [begin, end) without the line end, and where the next
// line starts (equal to end on the last line when it has no line end).
struct Line {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

enum class LineKind { kOther, kSection, kKey };

struct LineInfo {
  LineKind kind = LineKind::kOther;
  std::string_view name;        // section or key name, trimmed
  std::size_t value_begin = 0;  // key lines: first byte after "=" and the blanks after it
};

LineInfo Classify(const std::string& bytes, const Line& line) {
  LineInfo info;
  std::string_view content(bytes.data() + line.begin, line.end - line.begin);
  std::string_view trimmed = Trim(content);
  if (trimmed.empty() || trimmed.front() == ';') return info;
  if (trimmed.front() == '[') {
    std::size_t close = trimmed.rfind(']');
    if (close != std::string_view::npos) {
      info.kind = LineKind::kSection;
      info.name = Trim(trimmed.substr(1, close - 1));
    }
    return info;
  }
  std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return info;
  std::string_view name = Trim(content.substr(0, equals));
  if (name.empty()) return info;
  info.kind = LineKind::kKey;
  info.name = name;
  std::size_t value = equals + 1;
  while (value < content.size() && IsBlank(content[value])) ++value;
  info.value_begin = line.begin + value;
  return info;
}

// Walks the lines of a text, skipping a UTF-8 byte order mark at its start.
class LineReader {
 public:
  explicit LineReader(const std::string& bytes) : bytes_(bytes) {
    if (bytes_.compare(0, 3, "\xEF\xBB\xBF") == 0) position_ = 3;
  }
  bool Next(Line& line) {
    if (position_ >= bytes_.size()) return false;
    std::size_t newline = bytes_.find('\n', position_);
    line.begin = position_;
    if (newline == std::string::npos) {
      line.end = line.next = bytes_.size();
    } else {
      line.end = (newline > position_ && bytes_[newline - 1] == '\r') ? newline - 1 : newline;
      line.next = newline + 1;
    }
    position_ = line.next;
    return true;
  }

 private:
  const std::string& bytes_;
  std::size_t position_ = 0;
};

// Where a key stands, or where it would go.
struct KeyPlace {
  bool section_found = false;
  bool key_found = false;
  std::size_t value_begin = 0;  // key found: its value runs from here to value_end
  std::size_t value_end = 0;
  std::size_t insert_at = 0;           // section found, key missing: a new key line goes here
  bool insert_needs_line_end = false;  // the line before insert_at ends the text without line end
};

KeyPlace Locate(const std::string& bytes, std::string_view section, std::string_view key) {
  KeyPlace place;
  LineReader reader(bytes);
  Line line;
  while (reader.Next(line)) {
    LineInfo info = Classify(bytes, line);
    if (info.kind == LineKind::kSection) {
      if (place.section_found) break;  // only the first section of the name counts
      if (SameName(info.name, section)) {
        place.section_found = true;
        place.insert_at = line.next;
        place.insert_needs_line_end = line.next == line.end;
      }
    } else if (info.kind == LineKind::kKey && place.section_found) {
      if (SameName(info.name, key)) {
        place.key_found = true;
        place.value_begin = info.value_begin;
        place.value_end = line.end;
        return place;
      }
      place.insert_at = line.next;
      place.insert_needs_line_end = line.next == line.end;
    }
  }
  return place;
}

std::string LineEndOf(const std::string& bytes) {
  std::size_t newline = bytes.find('\n');
  if (newline == std::string::npos) {
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
  }
  return (newline > 0 && bytes[newline - 1] == '\r') ? "\r\n" : "\n";
}

}  // namespace

int32_t ProfileInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (value[i] - '0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(std::min(magnitude, kLimit - 1));
}

std::optional<std::string> ProfileText::Find(std::string_view section, std::string_view key) const {
  KeyPlace place = Locate(bytes_, section, key);
  if (!place.key_found) return std::nullopt;
  std::string_view value = Trim(
      std::string_view(bytes_.data() + place.value_begin, place.value_end - place.value_begin));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, value.find('\0')));
}

std::string ProfileText::GetString(std::string_view section, std::string_view key,
                                   std::string_view fallback, std::size_t capacity) const {
  std::optional<std::string> value = Find(section, key);
  std::string text =
      value ? std::move(*value) : std::string(fallback.substr(0, fallback.find('\0')));
  if (capacity == 0) return {};
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  return text;
}

int32_t ProfileText::GetInt(std::string_view section, std::string_view key,
                            int32_t fallback) const {
  std::optional<std::string> value = Find(section, key);
  return value ? ProfileInteger(*value) : fallback;
}

void ProfileText::Set(std::string_view section, std::string_view key, std::string_view value) {
  value = value.substr(0, value.find_first_of(std::string_view("\0\r\n", 3)));
  KeyPlace place = Locate(bytes_, section, key);
  if (place.key_found) {
    bytes_.replace(place.value_begin, place.value_end - place.value_begin, value);
    return;
  }
  const std::string line_end = LineEndOf(bytes_);
  std::string key_line = std::string(key) + "=" + std::string(value) + line_end;
  if (place.section_found) {
    if (place.insert_needs_line_end) key_line.insert(0, line_end);
    bytes_.insert(place.insert_at, key_line);
    return;
  }
  if (!bytes_.empty() && bytes_.back() != '\n') bytes_ += line_end;
  bytes_.append("[").append(section).append("]").append(line_end).append(key_line);
}

std::optional<ProfileText> ReadProfile(const std::filesystem::path& file, std::string& why) {
  std::string bytes;
  if (ReadWholeFile(file, bytes, why) == FileRead::kFailed) return std::nullopt;
  return ProfileText(std::move(bytes));
}

ProfileText LoadProfile(const std::filesystem::path& file) {
  std::string why;
  return ReadProfile(file, why).value_or(ProfileText());
}

bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value) {
  std::string why;
  std::optional<ProfileText> text = ReadProfile(file, why);
  if (!text) {  // writing now would drop everything else in it
    LogWarning("cannot read %s, so it is not changed: %s", file.string().c_str(), why.c_str());
    return false;
  }
  text->Set(section, key, value);
  return ReplaceFileAtomically(file, text->Bytes());
}

}  // namespace quillon
