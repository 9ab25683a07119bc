#include "ui_fixture.h"

#include <fstream>
#include <sstream>

#include <QMessageBox>

#include "ftp/server/ftp_listener.h"
#include "tftp/tftp_listener.h"
#include "ui/beside_gui.h"

namespace hx::test {

WindowFixture::WindowFixture(Options o) {
  if (!o.ini.empty()) WriteText(Dir() + "Harbinex.ini", o.ini);
  switches->tftpOpens = o.tftpOpens;
  switches->ftpOpens = o.ftpOpens;
  frontend = std::make_unique<WindowFrontend>(modals);
  ServerApp::Services services =
      o.realServices ? ServerApp::Services{MakeTftpListener, MakeFtpListener, {}} : FakeServices(switches);
  app = std::make_unique<ServerApp>(Dir(), *frontend, std::move(services));
  WindowOptions options;
  options.trayAvailable = o.trayAvailable;
  options.splash = false;
  options.manualPath = Dir() + "manual.html";
  options.homeUrl = "https://example.invalid/harbinex";
  options.openUrl = [this](const std::string& url) {
    openedUrls.push_back(url);
    return true;
  };
  window = std::make_unique<MainWindow>(*app, *frontend, modals, std::move(o.launcher), options);
  started = window->Start();
}

WindowFixture::~WindowFixture() {
  RunBesideGui([this] { return app->ExitInstance(); });
  frontend->Detach();
  window.reset();
  app.reset();
}

QPointer<QTimer> OnNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal && ++*tries < 500) return;
    timer->stop();
    timer->deleteLater();
    if (modal) act(modal);
  });
  timer->start(10);
  return timer;
}

int OpenMessageBoxes() {
  int open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(widget) && widget->isVisible()) ++open;
  return open;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace hx::test
