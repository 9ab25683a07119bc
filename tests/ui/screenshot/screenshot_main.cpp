// Takes the pictures of the manual and the README: the window with transfers running, the configuration sheet
// and a client dialog. Run under a display (scripts/screenshot starts Xvfb):
//   ui_screenshot --dir DIR --out OUTDIR
// DIR must hold a Harbinex.ini with free ports (TPort=0, FPort=0) and the file the transfers fetch.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/server_app.h"
#include "ftp/server/ftp_listener.h"
#include "tftp/tftp_listener.h"
#include "ui/art.h"
#include "ui/beside_gui.h"
#include "ui/client_launcher.h"
#include "ui/config_sheet.h"
#include "ui/ftp_file_dialog.h"
#include "ui/main_window.h"
#include "ui/modals.h"
#include "ui/session_view.h"
#include "ui/tftp_file_dialog.h"
#include "ui/user_info_dialog.h"
#include "ui/window_frontend.h"
#include "users/password_codec.h"

namespace {

QString Argument(const QStringList& args, const QString& name) {
  int at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
}

bool Save(QWidget* widget, const QString& path) {
  bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
  return saved;
}

// Lets the event loop run for a while, so that rows change and windows paint.
void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  hx::InitUiResources();
  QStringList args = application.arguments();
  QString dir = Argument(args, "--dir");
  QString out = Argument(args, "--out");
  if (dir.isEmpty() || out.isEmpty()) {
    std::fprintf(stderr, "usage: ui_screenshot --dir DIR --out OUTDIR\n");
    return 2;
  }
  QDir().mkpath(out);

  hx::QtModals modals;
  hx::WindowFrontend frontend(modals);
  hx::ServerApp app(dir.toStdString(), frontend, {hx::MakeTftpListener, hx::MakeFtpListener, {}});
  hx::WindowOptions options;
  options.splash = false;
  options.trayAvailable = false;
  bool ok = true;
  {
    hx::MainWindow window(app, frontend, modals, hx::MakeClientLauncher(app), options);
    if (!window.Start() || !app.TftpPort() || !app.FtpPort()) {
      std::fprintf(stderr, "ui_screenshot: the services did not start\n");
      return 1;
    }
    window.resize(1040, 700);
    // Widths as an operator would drag them, so that the texts show whole; Status reaches the edge.
    for (auto [column, width] : {std::pair{1, 78}, std::pair{3, 80}, std::pair{4, 170}, std::pair{5, 170}})
      window.SessionList()->setColumnWidth(column, width);
    window.show();

    // An operator's morning: twenty devices fetching their firmware from the program's own TFTP server (the
    // tftp-hpa client), one asking for a file that is not there, one that is done at once, and a session of
    // each of the program's own clients.
    QString port = QString::number(*app.TftpPort());
    std::vector<std::unique_ptr<QProcess>> clients;
    std::vector<const char*> names = {"small.txt", "missing.img"};
    names.insert(names.begin() + 1, 20, "firmware.bin");
    for (const char* name : names) {
      auto client = std::make_unique<QProcess>();
      client->start("tftp", {"127.0.0.1", port, "-m", "binary", "-c", "get", name, "/dev/null"});
      clients.push_back(std::move(client));
      Wait(40);
    }
    hx::ftpc::FtpClientJob job;
    job.host = "127.0.0.1";
    job.port = *app.FtpPort();
    job.user = "anonymous";
    job.password = "guest@example.org";
    job.remoteName = "small.txt";
    job.localName = dir.toStdString() + "copy-of-small.txt";
    hx::MakeClientLauncher(app).startFtp(job);
    hx::tftp::TftpClientJob tftpJob;
    tftpJob.host = "127.0.0.1";
    tftpJob.port = *app.TftpPort();
    tftpJob.remoteName = "small.txt";
    tftpJob.localName = dir.toStdString() + "small-copy.txt";
    hx::MakeClientLauncher(app).startTftp(tftpJob);
    // Long enough for the rates of the Progress column to settle.
    Wait(1500);
    ok &= Save(&window, out + "/main-window.png");

    hx::ConfigSheet sheet(hx::SheetContext{app.Config(), modals, frontend, app.AppDir(), true,
                                           app.Context().ftpTls, &app.Log()},
                          &window);
    sheet.show();
    sheet.Tabs()->setCurrentIndex(1);
    Wait(200);
    ok &= Save(&sheet, out + "/configuration.png");
    sheet.Tabs()->setCurrentIndex(2);
    Wait(200);
    ok &= Save(&sheet, out + "/configuration-ftp.png");
    sheet.hide();

    hx::TftpFileDialog client(false, app.Config(), modals, &window);
    client.host->setText("192.0.2.10");
    client.remoteName->setText("boot/pxelinux.0");
    client.blockSize->setText("1468");
    client.localName->setText(
        QString::fromStdString(app.Config().GetProfileString("TFTP", "TDLDir", "") + "pxelinux.0"));
    client.show();
    Wait(200);
    ok &= Save(&client, out + "/tftp-client.png");
    client.hide();

    hx::FtpFileDialog ftp(true, app.Config(), modals, &window);
    ftp.host->setText("files.example.org");
    ftp.user->setText("operator");
    ftp.password->setText("secret");
    ftp.remoteName->setText("incoming/config-backup.tar");
    ftp.localName->setText(dir + "config-backup.tar");
    ftp.show();
    Wait(200);
    ok &= Save(&ftp, out + "/ftp-client.png");
    ftp.hide();

    hx::UserInfoDialog user(
        "operator||" + hx::EncodePassword("secret") + "||" + dir.toStdString() + "||1||1||1||1||0||0||1||0",
        modals, &window);
    user.show();
    Wait(200);
    ok &= Save(&user, out + "/user-information.png");
    user.hide();

    // The downloads are still running; they have served their purpose.
    for (auto& c : clients) {
      c->kill();
      c->waitForFinished(5000);
    }
    hx::RunBesideGui([&app] { return app.ExitInstance(); });
    frontend.Detach();
  }
  return ok ? 0 : 1;
}
