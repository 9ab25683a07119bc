#include <QApplication>

#include "ui/art.h"
#include "ui_tests.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  hx::InitUiResources();
  int failures = 0;
  for (auto run : {RunMainWindowTests, RunSessionListTests, RunConfigSheetTests, RunSheetPortTests,
                   RunUserDialogTests, RunClientDialogTests, RunLogViewerTests, RunTrayAndSplashTests,
                   RunProgramTests, RunServersBesideWindowTests})
    failures += run(argc, argv);
  return failures == 0 ? 0 : 1;
}
