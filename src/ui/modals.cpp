#include "ui/modals.h"

#include <QFileDialog>
#include <QMessageBox>

namespace hx {
namespace {

constexpr const char* kBoxTitle = "Harbinex";

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

// A box centres itself on its owner. An owner off the screen (the window hidden in the tray) would put it
// where that window last stood, or in the screen's corner when it was never shown: such a box has no owner
// and centres on the screen.
QWidget* BoxOwner(QWidget* parent) {
  return parent && parent->window()->isVisible() ? parent : nullptr;
}

}  // namespace

std::string DisplayText(const std::string& text) {
  // Line breaks become LF; the blanks and tabs that some texts put at the start of a line (to centre it in a
  // box of a fixed width) are dropped, since a box here lays its text out itself.
  std::string out;
  out.reserve(text.size());
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      out += '\n';
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lineStart = true;
    } else if (lineStart && (c == ' ' || c == '\t')) {
      continue;
    } else {
      out += c;
      lineStart = false;
    }
  }
  return out;
}

void QtModals::Message(QWidget* parent, const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kBoxTitle, ToQt(DisplayText(text)), QMessageBox::Ok, BoxOwner(parent));
  box.exec();
}

QMessageBox* ShowBoxWithoutWaiting(QWidget* parent, const std::string& text) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, kBoxTitle, ToQt(DisplayText(text)), QMessageBox::Ok,
                              BoxOwner(parent));
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setAttribute(Qt::WA_ShowWithoutActivating);
  box->show();
  return box;
}

bool QtModals::Question(QWidget* parent, const std::string& text, Icon icon) {
  QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, kBoxTitle,
                  ToQt(DisplayText(text)), QMessageBox::Yes | QMessageBox::No, BoxOwner(parent));
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtModals::ChooseDirectory(QWidget* parent, const std::string& title,
                                                     const std::string& startDir) {
  QString start = startDir.empty() ? QDir::homePath() : ToQt(startDir);
  QString dir = QFileDialog::getExistingDirectory(parent, ToQt(title), start, QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return std::nullopt;
  return dir.toStdString();
}

std::optional<std::string> QtModals::ChooseFile(QWidget* parent, const std::string& startDir,
                                                bool forSaving) {
  // QFileDialog asks before replacing an existing file unless told not to, and has no read-only box.
  QString path = forSaving ? QFileDialog::getSaveFileName(parent, QString(), ToQt(startDir))
                           : QFileDialog::getOpenFileName(parent, QString(), ToQt(startDir));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace hx
