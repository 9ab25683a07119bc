#pragma once

#include <QDialog>

namespace hx {

// "About Harbinex": the program icon, the version, where to ask questions, and OK.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace hx
