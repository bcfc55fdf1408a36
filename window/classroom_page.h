// The classroom page as the main window drives it: a page loaded from a local file, started, and
// given named text variables.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class ClassroomPage {
 public:
  virtual ~ClassroomPage() = default;

  // Loads the page file at path. layer is kept for the page control's call and is always 0.
  virtual void LoadMovie(int32_t layer, const std::string& path) = 0;
  // Starts the page.
  virtual void Play() = 0;
  // Gives the page a variable, its value as config.ini holds it (the ANSI code page on Windows,
  // UTF-8 elsewhere). Calls made before the page is ready reach it in order later.
  virtual void SetVariable(const std::string& name, const std::string& value) = 0;
  // Tells the page how the class stands, as the status line does: the variable "classState",
  // one of "idle", "connecting", "live", "reconnecting" and "refused". Pages that know only the
  // three variables above ignore it.
  virtual void ShowClassState(const std::string& state) { SetVariable("classState", state); }
};

}  // namespace quillon
