// The commands of the main window that open dialogs: debugging type, viewers, configuration, clients,
// About, help and web.
#include <QAction>
#include <QDesktopServices>
#include <QUrl>

#include "app/server_app.h"
#include "tls/server_tls.h"
#include "ui/about_dialog.h"
#include "ui/beside_gui.h"
#include "ui/config_sheet.h"
#include "ui/debug_type_dialog.h"
#include "ui/ftp_file_dialog.h"
#include "ui/main_window.h"
#include "ui/modals.h"
#include "ui/output_viewer.h"
#include "ui/tftp_file_dialog.h"
#include "ui/window_frontend.h"

namespace hx {
namespace {

constexpr const char* kDebugWarning =
    "Warning!\n \t\t\t\t\t\t\t\t\t\tDebugging causes file transfers to be very slow.\n "
    "\t\t\t\t\t\t\t\t\t\tIn some "
    "cases, it may cause them to fail.\n \t\t\t\t\t\t\t\t\t\tDo you still wish to enable debugging?";
constexpr const char* kNoBrowser = "Unable to initialize browser. Is a browser installed?";

}  // namespace

void MainWindow::OnEnableDebugging() {
  QAction* action = Action(Command::EnableDebugging);
  if (!action->isChecked()) {
    if (m_bInitializing) return;
    m_app.Log().DisableDebugging();
    action->setChecked(false);
    return;
  }
  if (!m_modals.Question(this, kDebugWarning)) {
    action->setChecked(false);
    m_app.Log().DisableDebugging();
    return;
  }
  // The trace is opened before the type is asked for, so that a trace that cannot be opened is reported
  // first; it writes nothing until the type has been chosen (mask 0).
  if (!m_app.Log().EnableDebugging(0)) {
    action->setChecked(false);
    return;
  }
  DebugTypeDialog type(this);
  int mask = type.exec();
  if (!m_app.Log().EnableDebugging(mask)) action->setChecked(false);
}

void MainWindow::OnLogOutput() {
  OutputViewer::ShowOrRaise(m_logViewer, m_app.Log().LogPath(), "Log Output", m_modals, this);
}

void MainWindow::OnDebugOutput() {
  OutputViewer::ShowOrRaise(m_debugViewer, m_app.Log().DebugPath(), "Debug Output", m_modals, this);
}

void MainWindow::OnConfig() {
  ConfigStore& config = m_app.Config();
  FtpStartSettings ftpBefore = ReadFtpStartSettings(config);
  int tftpPortBefore = cfg::Read(config, cfg::kTPort);
  ConfigSheet sheet(SheetContext{config, m_modals, m_frontend, m_app.AppDir(), m_trayIcon.Available(),
                                 m_app.Context().ftpTls, &m_app.Log()},
                    isVisible() ? this : nullptr);
  if (sheet.exec() != QDialog::Accepted) return;
  // Only the service whose port changed starts again; the other one keeps its sessions undisturbed.
  if (cfg::Read(config, cfg::kTPort) != tftpPortBefore) ApplyTftpPort();
  if (ReadFtpStartSettings(config) != ftpBefore) ApplyFtpStartSettings();
  ApplyKeepFinishedRows();
}

void MainWindow::ApplyTftpPort() {
  if (!m_app.TftpServiceOn()) return;
  bool on = RunBesideGui([this] {
    m_app.SetTftpService(false);
    return m_app.SetTftpService(true);
  });
  ShowTftpState(on);
}

void MainWindow::ApplyFtpStartSettings() {
  // Running sessions keep the context they shook hands with; new ones take the one loaded here.
  if (std::shared_ptr<tls::ServerTls> serverTls = m_app.Context().ftpTls) {
    std::string line = RunBesideGui([&] { return serverTls->Load(m_app.Config(), m_app.AppDir()); });
    if (!line.empty()) m_app.Log().OnLogLine(cfg::kSourceFtp, line);
  }
  // The listeners take the implicit port, and TLS as it now is, when they open.
  if (!m_app.FtpServiceOn()) return;
  bool on = RunBesideGui([this] {
    m_app.SetFtpService(false);
    return m_app.SetFtpService(true);
  });
  ShowFtpState(on);
}

void MainWindow::OnAbout() {
  AboutDialog about(isVisible() ? this : nullptr);
  about.exec();
}

void MainWindow::OnHelpContents() {
  if (m_options.manualPath.empty()) {
    m_modals.Message(this, "The manual (manual.html) was not found beside the program.");
    return;
  }
  std::string url =
      QUrl::fromLocalFile(QString::fromStdString(m_options.manualPath)).toString().toStdString();
  bool opened = m_options.openUrl ? m_options.openUrl(url)
                                  : QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  if (!opened) m_modals.Message(this, kNoBrowser);
}

void MainWindow::OnWeb() {
  bool opened = false;
  if (!m_options.homeUrl.empty())
    opened = m_options.openUrl ? m_options.openUrl(m_options.homeUrl)
                               : QDesktopServices::openUrl(QUrl(QString::fromStdString(m_options.homeUrl)));
  if (!opened) m_modals.Message(this, kNoBrowser);
}

void MainWindow::OnFtpClientGet() {
  RunFtpClientCommand(false, m_app.Config(), m_modals, m_launcher, this);
}

void MainWindow::OnFtpClientPut() {
  RunFtpClientCommand(true, m_app.Config(), m_modals, m_launcher, this);
}

void MainWindow::OnTftpClientGet() {
  RunTftpClientCommand(false, m_app.Config(), m_modals, m_launcher, this);
}

void MainWindow::OnTftpClientPut() {
  RunTftpClientCommand(true, m_app.Config(), m_modals, m_launcher, this);
}

}  // namespace hx
