// Conversion of text into the system's ANSI code page, in which the program keeps its text.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Converts UTF-8 text into the ANSI code page. Characters the code page lacks become "?", and so
// does each invalid UTF-8 sequence. On Linux the code page is UTF-8 itself: valid text passes
// unchanged.
std::string Utf8ToAnsi(std::string_view utf8);

#ifdef _WIN32
// UTF-8 text as UTF-16 for the wide-character calls of Windows; each invalid sequence becomes
// U+FFFD. Empty when the text is empty or too long to convert.
std::wstring Utf8ToWide(std::string_view utf8);
// Text in the ANSI code page (as config.ini holds it) as UTF-16. Empty when the text is empty or
// too long to convert.
std::wstring AnsiToWide(std::string_view ansi);
#endif

}  // namespace quillon
