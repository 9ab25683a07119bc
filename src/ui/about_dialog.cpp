#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/art.h"
#include "ui/commands.h"

namespace hx {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About Harbinex");
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(QSize(48, 48), devicePixelRatioF()));
  icon->setAlignment(Qt::AlignTop);
  auto* version = new QLabel(kAboutText, this);
  version->setObjectName("version");
  auto* contact = new QLabel("For questions, the manual is under Help, Help Contents.", this);
  contact->setTextFormat(Qt::PlainText);
  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(contact);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(texts, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText("&OK");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace hx
