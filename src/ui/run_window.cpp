#include "ui/run_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <csignal>
#include <cstdlib>

#include "app/command_line.h"
#include "ui/art.h"
#include "ui/beside_gui.h"
#include "ui/help_locations.h"
#include "ui/main_window.h"
#include "ui/modals.h"
#include "ui/signal_quit.h"
#include "ui/window_frontend.h"

namespace hx {

bool WindowAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace hx

int RunWindow(int argc, char** argv, const std::string& appDir, hx::ServerApp::Services services) {
  using namespace hx;
  std::signal(SIGPIPE, SIG_IGN);
  QApplication application(argc, argv);
  QApplication::setApplicationName("Harbinex");
  // The window may be hidden in the tray while a dialog closes; only the quit command ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  InitUiResources();
  QApplication::setWindowIcon(ProgramIcon());

  QtModals modals;
  WindowFrontend frontend(modals);
  ServerApp app(appDir, frontend, std::move(services));

  WindowOptions options;
  options.manualPath = FindManual(ExecutableDirectory());
  options.homeUrl = HomeUrl(options.manualPath).toString().toStdString();
  options.openUrl = [](const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  };

  int code = 1;
  {
    MainWindow window(app, frontend, modals, MakeClientLauncher(app), options);
    bool signalled = false;  // a signal during start-up, before the event loop runs
    SignalQuit quitOnSignal([&window, &signalled] {
      signalled = true;
      window.Quit();
    });
    bool started = window.Start();
    if (started && !signalled) code = QApplication::exec();
    int exitCode = RunBesideGui([&app] { return app.ExitInstance(); });
    if (started) code = exitCode;
    frontend.Detach();
  }
  // Sessions that ignored every stop request still run; leaving without destructors lets the process end.
  if (app.AbandonedWorkers() > 0) std::_Exit(code);
  return code;
}
