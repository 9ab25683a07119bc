#include "ui_fixture.h"

#include <fstream>
#include <sstream>

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>
#include <map>
#include <set>

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

std::vector<std::string> MnemonicFaults(QWidget* page) {
  std::vector<std::string> faults;
  std::map<QChar, QString> owners;
  std::set<QWidget*> labelled;
  auto take = [&](const QString& text) {
    int at = text.indexOf('&');
    if (at < 0 || at + 1 >= text.size()) {
      faults.push_back("no mnemonic: " + text.toStdString());
      return;
    }
    QChar key = text[at + 1].toLower();
    if (owners.count(key))
      faults.push_back("'" + QString(key).toStdString() + "' on both " + owners[key].toStdString() + " and " +
                       text.toStdString());
    owners[key] = text;
  };
  if (auto* menu = qobject_cast<QMenu*>(page))
    for (QAction* item : menu->actions())
      if (!item->isSeparator()) take(item->text());
  for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
    if (qobject_cast<QToolButton*>(button) || qobject_cast<QDialogButtonBox*>(button->parentWidget()))
      continue;
    take(button->text());
  }
  for (QLabel* label : page->findChildren<QLabel*>()) {
    if (!label->buddy()) continue;
    take(label->text());
    labelled.insert(label->buddy());
  }
  for (QWidget* field : page->findChildren<QWidget*>()) {
    bool isField = qobject_cast<QComboBox*>(field) ||
                   (qobject_cast<QLineEdit*>(field) && !qobject_cast<QComboBox*>(field->parentWidget()));
    if (isField && !labelled.count(field))
      faults.push_back("no label leads to " + field->objectName().toStdString());
  }
  return faults;
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
