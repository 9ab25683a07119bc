// Opens the configuration sheet on whatever screen the platform offers and prints where it and its parts lie,
// one "name value..." line each, for the sheet's screen test to run under other screens and scale factors:
//   ui_sheet_probe DIR
// DIR is a writable folder for the probe's settings.
#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <cstdio>

#include "app/config_store.h"
#include "app/transfer_log.h"
#include "ui/art.h"
#include "ui/config_pages.h"
#include "ui/config_sheet.h"
#include "ui/modals.h"
#include "ui/window_frontend.h"

namespace {

void Print(const char* name, const QRect& rect) {
  std::printf("%s %d %d %d %d\n", name, rect.x(), rect.y(), rect.width(), rect.height());
}

QRect GlobalRect(const QWidget* widget) {
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  hx::InitUiResources();
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_sheet_probe DIR\n");
    return 2;
  }
  std::string dir = std::string(argv[1]) + "/";
  hx::ConfigStore config(dir + "Harbinex.ini");
  config.WriteProfileString("TFTP", "TDLDir", dir);
  config.WriteProfileString("FTP", "FDLDir", dir);
  hx::QtModals modals;
  hx::WindowFrontend frontend(modals);
  hx::TransferLog log(dir, config, frontend);
  hx::ConfigSheet sheet(hx::SheetContext{config, modals, frontend, dir, true, nullptr, &log});
  sheet.show();
  application.processEvents();
  Print("available", QGuiApplication::primaryScreen()->availableGeometry());
  std::printf("scale %.2f\n", sheet.devicePixelRatio());
  Print("needed", QRect(QPoint(0, 0), sheet.sizeHint()));
  Print("sheet", sheet.frameGeometry());
  for (QPushButton* button : sheet.findChildren<QPushButton*>())
    if (button->text() == "OK") Print("ok", GlobalRect(button));
  // The FTP page's lowest box, brought into view as a keyboard user's Tab would bring it.
  sheet.Tabs()->setCurrentIndex(2);
  application.processEvents();
  for (QGroupBox* box : sheet.Ftp()->findChildren<QGroupBox*>()) {
    if (box->title() != " Passive Mode ") continue;
    static_cast<QScrollArea*>(sheet.Tabs()->currentWidget())->ensureWidgetVisible(box);
    application.processEvents();
    Print("passive", GlobalRect(box));
    Print("page", GlobalRect(sheet.Tabs()->currentWidget()));
  }
  std::fflush(stdout);
  return 0;
}
