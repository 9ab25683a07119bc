#pragma once

#include <QDialog>

class QFont;

namespace hx {

// The width a dialog needs to show its whole `title` in the window manager's frame, for a dialog in `font`.
int TitleRoom(const QString& title, const QFont& font);

// "Debugging Type": three buttons that end the dialog with the debugging mask they stand for. Closing it
// any other way ends it with 2, which the caller takes as FTP only.
class DebugTypeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DebugTypeDialog(QWidget* parent = nullptr);

  void reject() override;
};

}  // namespace hx
