#include "window/message_box_qt.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

namespace quillon {

QString ApplicationTitle() {
  const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  return name.isEmpty() ? QStringLiteral("quillon-publisher") : name;
}

void ShowMessageBox(QWidget* parent, const std::string& text, MessageIcon icon) {
  const QMessageBox::Icon shown = icon == MessageIcon::kExclamation   ? QMessageBox::Warning
                                  : icon == MessageIcon::kInformation ? QMessageBox::Information
                                                                      : QMessageBox::NoIcon;
  QMessageBox box(shown, ApplicationTitle(), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

void MessageBoxMessages::Show(const std::string& text) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr || QThread::currentThread() == application->thread()) {
    ShowMessageBox(nullptr, text, MessageIcon::kNone);
    return;
  }
  QMetaObject::invokeMethod(
      application, [text] { ShowMessageBox(nullptr, text, MessageIcon::kNone); },
      Qt::QueuedConnection);
}

}  // namespace quillon
