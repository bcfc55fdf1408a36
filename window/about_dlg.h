// The about box: the application icon, two lines about the maker and the product text.
#pragma once

#include <QDialog>
#include <QString>

namespace quillon {

class AboutDlg : public QDialog {
 public:
  explicit AboutDlg(QWidget* parent = nullptr);

  static QString ProductText();
};

}  // namespace quillon
