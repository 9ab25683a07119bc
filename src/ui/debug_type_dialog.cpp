#include "ui/debug_type_dialog.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "app/config_keys.h"

namespace hx {

DebugTypeDialog::DebugTypeDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Debugging Type");
  auto* layout = new QVBoxLayout(this);
  struct Choice {
    const char* text;
    const char* name;
    int mask;
  };
  for (const Choice& choice :
       {Choice{"Tftp Only", "tftpOnly", cfg::kSourceTftp}, Choice{"Ftp Only", "ftpOnly", cfg::kSourceFtp},
        Choice{"Both Tftp and Ftp", "both", cfg::kSourceTftp | cfg::kSourceFtp}}) {
    auto* button = new QPushButton(choice.text, this);
    button->setObjectName(choice.name);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, mask = choice.mask] { done(mask); });
    layout->addWidget(button);
  }
  // As wide as its buttons, the dialog would cut its own title to "D…": leave room for the title beside the
  // frame's icon and buttons, each about two lines high.
  setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 8 * fontMetrics().height());
}

void DebugTypeDialog::reject() {
  done(cfg::kSourceFtp);
}

}  // namespace hx
