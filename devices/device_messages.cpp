#include "devices/device_messages.h"

#include <atomic>

#include "base/log.h"

namespace quillon {
namespace {

std::atomic<UserMessages*> g_receiver{nullptr};

}  // namespace

UserMessages* SetUserMessages(UserMessages* receiver) {
  return g_receiver.exchange(receiver);
}

void ShowUserMessage(const std::string& text) {
  if (UserMessages* receiver = g_receiver.load()) {
    receiver->Show(text);
    return;
  }
  LogError("%s", text.c_str());
}

}  // namespace quillon
