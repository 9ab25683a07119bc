#include "ui/find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace hx {

FindBar::FindBar(QWidget* parent)
    : QWidget(parent),
      m_edit(new QLineEdit(this)),
      m_case(new QCheckBox("Match &case", this)),
      m_count(new QLabel(this)) {
  auto* label = new QLabel("F&ind:", this);
  label->setBuddy(m_edit);
  m_edit->setClearButtonEnabled(true);
  m_count->setFixedWidth(m_count->fontMetrics().horizontalAdvance("999999 of 999999") + 8);
  auto* previous = new QPushButton("&Previous", this);
  auto* next = new QPushButton("&Next", this);
  auto* close = new QPushButton("Clo&se", this);
  for (QPushButton* button : {previous, next, close}) button->setAutoDefault(false);
  previous->setToolTip("Previous match (Shift+F3)");
  next->setToolTip("Next match (F3)");
  close->setToolTip("Close the find bar (Escape)");

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(m_edit, 1);
  layout->addWidget(m_count);
  layout->addWidget(previous);
  layout->addWidget(next);
  layout->addWidget(m_case);
  layout->addWidget(close);

  connect(m_edit, &QLineEdit::textChanged, this, &FindBar::SearchChanged);
  connect(m_case, &QCheckBox::toggled, this, &FindBar::SearchChanged);
  connect(m_edit, &QLineEdit::returnPressed, this, &FindBar::NextWanted);
  connect(next, &QPushButton::clicked, this, &FindBar::NextWanted);
  connect(previous, &QPushButton::clicked, this, &FindBar::PreviousWanted);
  auto* backwards =
      new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Return), m_edit, nullptr, nullptr, Qt::WidgetShortcut);
  connect(backwards, &QShortcut::activated, this, &FindBar::PreviousWanted);
  connect(close, &QPushButton::clicked, this, &FindBar::Close);
}

void FindBar::Close() {
  hide();
  emit Closed();
}

void FindBar::Open() {
  show();
  m_edit->setFocus(Qt::ShortcutFocusReason);
  m_edit->selectAll();
}

QString FindBar::Text() const {
  return m_edit->text();
}

bool FindBar::CaseSensitive() const {
  return m_case->isChecked();
}

void FindBar::ShowCount(int current, int total) {
  if (m_edit->text().isEmpty())
    m_count->clear();
  else if (total == 0)
    m_count->setText("No matches");
  else
    m_count->setText(QString("%1 of %2").arg(current).arg(total));
}

QString FindBar::CountText() const {
  return m_count->text();
}

}  // namespace hx
