#include "ui/debug_type_dialog.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/config_keys.h"

namespace hx {

int TitleRoom(const QString& title, const QFont& font) {
  // The window manager draws the title in a font of its own, often bold and larger than the dialog's: the
  // title is measured bold at a quarter more than the dialog's size. Beside it sit the frame's icon and its
  // buttons, each about two lines high, and the margins.
  QFont titleFont = font;
  titleFont.setBold(true);
  if (font.pointSizeF() > 0)
    titleFont.setPointSizeF(font.pointSizeF() * 1.25);
  else
    titleFont.setPixelSize(qRound(font.pixelSize() * 1.25));
  QFontMetrics metrics(titleFont);
  return metrics.horizontalAdvance(title) + 10 * metrics.height();
}

DebugTypeDialog::DebugTypeDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Debugging Type");
  auto* layout = new QVBoxLayout(this);
  struct Choice {
    const char* text;
    const char* name;
    int mask;
  };
  for (const Choice& choice :
       {Choice{"&Tftp Only", "tftpOnly", cfg::kSourceTftp}, Choice{"&Ftp Only", "ftpOnly", cfg::kSourceFtp},
        Choice{"&Both Tftp and Ftp", "both", cfg::kSourceTftp | cfg::kSourceFtp}}) {
    auto* button = new QPushButton(choice.text, this);
    button->setObjectName(choice.name);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, mask = choice.mask] { done(mask); });
    layout->addWidget(button);
  }
  setMinimumWidth(TitleRoom(windowTitle(), font()));
}

void DebugTypeDialog::reject() {
  done(cfg::kSourceFtp);
}

}  // namespace hx
