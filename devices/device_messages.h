// Where the device layers send what the user must hear about (a camera that cannot be opened, a
// sound device that stopped): one process-wide receiver that the program installs, a message box
// in the window, a line on the terminal without one. Until one is installed, messages go to
// standard error. Capture objects are made without arguments, so they find it here.
#pragma once

#include <string>

#include "base/user_messages.h"

namespace quillon {

// Installs receiver (nullptr: back to standard error) and returns the one it replaces. The
// receiver must outlive every capture object; it may be called from capture threads.
UserMessages* SetUserMessages(UserMessages* receiver);

// Hands text to the installed receiver.
void ShowUserMessage(const std::string& text);

// Installs a receiver for its own lifetime, then puts the previous one back.
class ScopedUserMessages {
 public:
  explicit ScopedUserMessages(UserMessages& receiver) : previous_(SetUserMessages(&receiver)) {}
  ~ScopedUserMessages() { SetUserMessages(previous_); }
  ScopedUserMessages(const ScopedUserMessages&) = delete;
  ScopedUserMessages& operator=(const ScopedUserMessages&) = delete;

 private:
  UserMessages* previous_;
};

}  // namespace quillon
