// The program's message box: modal, an OK button, the application title as caption.
#pragma once

#include <QString>
#include <string>

#include "base/user_messages.h"
#include "window/publisher_dlg_logic.h"

class QWidget;

namespace quillon {

// Loads Qt's own Chinese texts, so that its dialogs and standard buttons read "确定", not "OK".
// Returns false when the system has no Chinese translation of Qt (the texts stay English).
bool LoadQtChineseTexts();

// The caption of every message box: the program file's name without extension.
QString ApplicationTitle();

void ShowMessageBox(QWidget* parent, const std::string& text, MessageIcon icon);

// Messages of the parts that have no window of their own (the settings, the fast class, the
// camera and the sound capture). On the window's thread the box is shown at once and Show returns
// when it is closed; from any other thread (a camera's streaming thread, the sound worker) the
// box is queued to the window's thread and Show returns at once, so capture never waits for it.
class MessageBoxMessages : public UserMessages {
 public:
  void Show(const std::string& text) override;
};

}  // namespace quillon
