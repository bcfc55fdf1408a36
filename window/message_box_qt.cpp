#include "window/message_box_qt.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QThread>
#include <QTranslator>

#include "base/log.h"

namespace quillon {

bool LoadQtChineseTexts() {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) return false;
  auto* translator = new QTranslator(application);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

QString ApplicationTitle() {
  const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  return name.isEmpty() ? QStringLiteral("quillon-publisher") : name;
}

void ShowMessageBox(QWidget* parent, const std::string& text, MessageIcon icon) {
  // The log keeps what the teacher was told, for whoever helps them afterwards.
  LogInfo("message: %s", text.c_str());
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
