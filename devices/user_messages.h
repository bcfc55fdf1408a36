// How the device layers tell the user about a failure: one process-wide receiver that the
// program installs (the window shows a modal message box; the headless program prints). Until one
// is installed, messages go to standard error.
#pragma once

#include <string>

namespace quillon {

class UserMessages {
 public:
  // Shows text and returns when the user has seen it. May be called from any thread.
  virtual void ShowMessage(const std::string& text) = 0;

 protected:
  ~UserMessages() = default;
};

// Installs receiver (nullptr: back to standard error); returns the one it replaces. The receiver
// must outlive every capture object.
UserMessages* SetUserMessages(UserMessages* receiver);

// Hands text to the installed receiver.
void ShowUserMessage(const std::string& text);

}  // namespace quillon
