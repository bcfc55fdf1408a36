// Messages to the user: a modal message box with an OK button in the window, a line of text
// where there is no window.
#pragma once

#include <ostream>
#include <string>

namespace quillon {

class UserMessages {
 public:
  virtual ~UserMessages() = default;
  // Shows the text and returns when the user has seen it.
  virtual void Show(const std::string& text) = 0;
};

// Writes each message as one line to a stream (a terminal or a log), for runs without a window.
class StreamMessages : public UserMessages {
 public:
  explicit StreamMessages(std::ostream& out) : out_(out) {}
  void Show(const std::string& text) override { out_ << text << '\n' << std::flush; }

 private:
  std::ostream& out_;
};

}  // namespace quillon
