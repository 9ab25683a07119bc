#pragma once

#include <optional>
#include <string>

class QMessageBox;
class QWidget;

namespace hx {

// Every message box, question and file chooser of the window goes through this interface, so that tests can
// answer them without a modal loop. Texts are the program's own, passed exactly as they stand.
class Modals {
 public:
  enum class Icon { None, Exclamation };

  virtual ~Modals() = default;

  // A message box with an OK button and no icon; returns when it is dismissed.
  virtual void Message(QWidget* parent, const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Question(QWidget* parent, const std::string& text, Icon icon = Icon::None) = 0;
  // A folder chooser opened at `startDir` (empty: the home folder); the chosen path without a trailing
  // separator, or nullopt when cancelled.
  virtual std::optional<std::string> ChooseDirectory(QWidget* parent, const std::string& title,
                                                     const std::string& startDir) = 0;
  // A file chooser in `startDir`: an open dialog (an existing file) or a save dialog that asks before
  // replacing a file. The full path, or nullopt when cancelled.
  virtual std::optional<std::string> ChooseFile(QWidget* parent, const std::string& startDir,
                                                bool forSaving) = 0;
};

// The real thing: QMessageBox, QFileDialog.
class QtModals : public Modals {
 public:
  void Message(QWidget* parent, const std::string& text) override;
  bool Question(QWidget* parent, const std::string& text, Icon icon) override;
  std::optional<std::string> ChooseDirectory(QWidget* parent, const std::string& title,
                                             const std::string& startDir) override;
  std::optional<std::string> ChooseFile(QWidget* parent, const std::string& startDir,
                                        bool forSaving) override;
};

// A message box with an OK button that does not wait: it is shown and returned at once, takes no focus from
// the window the operator works in, and deletes itself when dismissed. The caller keeps at most one open.
QMessageBox* ShowBoxWithoutWaiting(QWidget* parent, const std::string& text);

// The text as a message box shows it: the texts break lines with CR, CR LF or LF, and a box shows LF only;
// the indentation at the start of a line is left out.
std::string DisplayText(const std::string& text);

}  // namespace hx
