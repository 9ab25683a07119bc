#pragma once

#include <QDialog>

namespace hx {

// "Debugging Type": three buttons that end the dialog with the debugging mask they stand for. Closing it
// any other way ends it with 2, which the caller takes as FTP only.
class DebugTypeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DebugTypeDialog(QWidget* parent = nullptr);

  void reject() override;
};

}  // namespace hx
