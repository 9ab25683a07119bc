#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace hx {

// The find bar under a viewer's list: what to find, whether case matters, where the shown match stands among
// all ("3 of 17"), buttons for the next and the previous match, and a close button. It only asks; the
// viewer searches, and closes the bar on Escape. Enter asks for the next match, Shift+Enter for the previous.
class FindBar : public QWidget {
  Q_OBJECT

 public:
  explicit FindBar(QWidget* parent = nullptr);

  // Shows the bar with its text selected, ready for typing.
  void Open();
  // Hides the bar; the viewer's list takes the focus back.
  void Close();
  QString Text() const;
  bool CaseSensitive() const;
  // "3 of 17" for match `current` (from 1) of `total`; "No matches" for a text that matches nothing; nothing
  // without a text.
  void ShowCount(int current, int total);

  QLineEdit* Edit() const { return m_edit; }
  QCheckBox* CaseBox() const { return m_case; }
  QString CountText() const;

 signals:
  // The text or the case choice changed.
  void SearchChanged();
  void NextWanted();
  void PreviousWanted();
  void Closed();

 private:
  QLineEdit* m_edit;
  QCheckBox* m_case;
  QLabel* m_count;
};

}  // namespace hx
