// The configuration sheet's ports and kept rows, the restart of the one service whose port changed, the
// start that finds a service off because its port was taken, the sheet on small and scaled screens, and its
// keyboard.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTest>
#include <map>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ui/config_pages.h"
#include "ui/config_sheet.h"
#include "ui/notice_pane.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

// A socket of the test that holds a port of every address, as another server would.
class HeldPort {
 public:
  explicit HeldPort(int type) : m_fd(::socket(AF_INET, type, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (type == SOCK_STREAM && ::listen(m_fd, 1) != 0) ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    m_port = ntohs(address.sin_port);
  }
  ~HeldPort() { Release(); }
  void Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  int Port() const { return m_port; }

 private:
  int m_fd;
  int m_port = 0;
};

// Opens the sheet from the window's menu and lets `change` fill it before OK.
void ChangeOnTheSheet(WindowFixture& f, std::function<void(ConfigSheet&)> change) {
  OnNextModal([change](QWidget* modal) {
    auto* sheet = static_cast<ConfigSheet*>(modal);
    change(*sheet);
    sheet->accept();
  });
  f.window->Action(Command::Config)->trigger();
}

}  // namespace

class SheetPortsTest : public QObject {
  Q_OBJECT

 private slots:
  void portsAndKeptRowsAreCheckedAndWritten() {
    RecordingModals modals;
    QTemporaryDir dir;
    std::string folder = dir.path().toStdString() + "/";
    WriteText(folder + "Harbinex.ini",
              "[General]\r\nKeepFinishedRows=40\r\n[TFTP]\r\nTPort=6969\r\nTDLDir=" + folder +
                  "\r\n[FTP]\r\nFPort=2121\r\nFDataPort=20\r\nFDLDir=" + folder + "\r\n");
    ConfigStore config(folder + "Harbinex.ini");
    WindowFrontend frontend(modals);
    ConfigSheet sheet(SheetContext{config, modals, frontend, folder});
    sheet.show();
    const std::string ports = "Please enter an integer between 1 and 65535.";
    const struct Field {
      int page;
      const char* name;
      const cfg::IntSetting& setting;
      QString shown;
      QString refused;
      std::string refusal;
      int accepted;
    } fields[] = {
        {0, "keepFinishedRows", cfg::kKeepFinishedRows, "40", "1000001",
         "Please enter an integer between 0 and 1000000.", 0},
        {1, "port", cfg::kTPort, "6969", "0", ports, 65535},
        {2, "port", cfg::kFPort, "2121", "65536", ports, 1},
        // 0: each active data connection leaves from a port the system chooses.
        {2, "dataPort", cfg::kFDataPort, "20", "65536", "Please enter an integer between 0 and 65535.", 0},
    };
    QWidget* pages[] = {sheet.General(), sheet.Tftp(), sheet.Ftp()};
    for (const Field& field : fields) {
      sheet.Tabs()->setCurrentIndex(field.page);
      QCOMPARE(sheet.Tabs()->currentIndex(), field.page);
      auto* edit = pages[field.page]->findChild<QLineEdit*>(field.name);
      QVERIFY(edit);
      QCOMPARE(edit->text(), field.shown);
      edit->setText(field.refused);
      sheet.accept();
      QCOMPARE(modals.Messages().back(), field.refusal);
      QCOMPARE(sheet.result(), int(QDialog::Rejected));
      QCOMPARE(edit->selectedText(), field.refused);
      edit->setText(QString::number(field.accepted));
    }
    sheet.accept();
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    for (const Field& field : fields)
      QCOMPARE(config.GetProfileInt(field.setting.section, field.setting.key, -1), field.accepted);
  }

  // Only the service whose port changed starts again, and only when it is on; a port that cannot be had is
  // reported like any failed start.
  void aChangedPortRestartsOnlyItsService() {
    WindowFixture f;
    struct Change {
      int page;
      const char* field;
      QString value;
      bool tftpOn;  // before the change
      int tftpMade;
      int ftpMade;
    } changes[] = {
        {1, "port", "1069", true, 1, 0},     {2, "port", "2021", true, 0, 1},
        {2, "dataPort", "2020", true, 0, 0}, {1, "port", "1069", true, 0, 0},
        {1, "port", "1070", false, 0, 0},
    };
    for (const Change& c : changes) {
      if (!c.tftpOn) f.window->TftpOff();
      int tftpBefore = f.switches->tftpMade;
      int ftpBefore = f.switches->ftpMade;
      ChangeOnTheSheet(f, [&c](ConfigSheet& sheet) {
        sheet.Tabs()->setCurrentIndex(c.page);
        QWidget* page = c.page == 1 ? static_cast<QWidget*>(sheet.Tftp()) : sheet.Ftp();
        page->findChild<QLineEdit*>(c.field)->setText(c.value);
      });
      QCOMPARE(f.switches->tftpMade - tftpBefore, c.tftpMade);
      QCOMPARE(f.switches->ftpMade - ftpBefore, c.ftpMade);
      QCOMPARE(f.app->TftpServiceOn(), c.tftpOn);
      QVERIFY(f.app->FtpServiceOn());
    }
    QCOMPARE(f.Config().GetProfileInt(cfg::kTftp, cfg::kTPort.key, -1), 1070);
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFPort.key, -1), 2021);
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFDataPort.key, -1), 2020);
    // A port that cannot be had: the service goes off with the listener's own message.
    f.switches->ftpOpens = false;
    ChangeOnTheSheet(f, [](ConfigSheet& sheet) {
      sheet.Tabs()->setCurrentIndex(2);
      sheet.Ftp()->port->setText("2022");
    });
    QVERIFY(!f.app->FtpServiceOn());
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: Off   "));
    auto lines = [&f] { return f.window->Notices()->Lines(); };
    QTRY_VERIFY(!lines().empty() && lines().back() == "FTP listener failed");
  }

  // A port held by another socket at start leaves the service off; the next start says why, in the status
  // bar and the log, until the service runs again.
  void aStartAfterATakenPortSaysWhyTheServiceIsOff() {
    const struct Service {
      const char* name;
      int type;
      const char* section;
      const char* portKey;
      const char* otherPort;
      const cfg::IntSetting& on;
    } services[] = {
        {"TFTP", SOCK_DGRAM, "TFTP", "TPort", "[FTP]\r\nFPort=0\r\n", cfg::kTftpServer},
        {"FTP", SOCK_STREAM, "FTP", "FPort", "[TFTP]\r\nTPort=0\r\n", cfg::kFtpServer},
    };
    for (const Service& s : services) {
      HeldPort held(s.type);
      QVERIFY(held.Port() > 0);
      WindowFixture::Options o;
      o.realServices = true;
      o.ini = std::string("[General]\r\nLogging=1\r\n") + s.otherPort + "[" + s.section + "]\r\n" +
              s.portKey + "=" + std::to_string(held.Port()) + "\r\n";
      std::string ini;
      {
        WindowFixture first(o);
        QVERIFY(first.started);
        QCOMPARE(first.Config().GetProfileInt(s.on.section, s.on.key, -1), 0);
        ini = ReadText(first.Dir() + "Harbinex.ini");
      }
      o.ini = ini;
      {
        WindowFixture second(o);
        const std::string why = std::string(s.name) + " is off: port " + std::to_string(held.Port()) +
                                " was in use at the last start; turn it on in Server Control";
        std::vector<std::string> notices = second.window->Notices()->Lines();
        QVERIFY2(notices == std::vector<std::string>{why},
                 notices.empty() ? "none" : notices.front().c_str());
        QVERIFY(ReadText(second.Dir() + "Harbinex.log").find(why) != std::string::npos);
        // Turned on once the port is free, the service runs and the reason is forgotten.
        held.Release();
        bool tftp = s.type == SOCK_DGRAM;
        tftp ? second.window->TftpOn() : second.window->FtpOn();
        QVERIFY(tftp ? second.app->TftpServiceOn() : second.app->FtpServiceOn());
        ini = ReadText(second.Dir() + "Harbinex.ini");
      }
      o.ini = ini;
      WindowFixture third(o);
      QVERIFY(third.window->Notices()->Lines().empty());
    }
  }

  // The sheet on a small screen and on a large one at twice the scale: it stays on the screen with OK in
  // reach, and its tallest page scrolls to its lowest box.
  void theSheetFitsSmallAndScaledScreens() {
    QByteArray probe = qgetenv("HX_SHEET_PROBE");
    QVERIFY2(!probe.isEmpty(), "HX_SHEET_PROBE names no probe: run the test through ctest");
    const struct Screen {
      int width;
      int height;
      const char* scale;
    } screens[] = {{1280, 720, "1"}, {1920, 1080, "2"}, {800, 600, "1"}};
    for (const Screen& screen : screens) {
      QTemporaryDir dir;
      QString config = dir.filePath("screen.json");
      WriteText(config.toStdString(), "{\"screens\": [{\"name\": \"probe\", \"x\": 0, \"y\": 0, \"width\": " +
                                          std::to_string(screen.width) +
                                          ", \"height\": " + std::to_string(screen.height) +
                                          ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96}]}");
      QProcess process;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
      environment.insert("QT_SCALE_FACTOR", screen.scale);
      process.setProcessEnvironment(environment);
      process.start(QString::fromLocal8Bit(probe), {dir.path()});
      QVERIFY(process.waitForFinished(60000));
      QCOMPARE(process.exitCode(), 0);
      std::map<std::string, QRect> places;
      for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 5)
          places[parts[0].toStdString()] =
              QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt());
      }
      QRect available = places["available"];
      double scale = QByteArray(screen.scale).toDouble();
      QCOMPARE(available.size(), QSize(qRound(screen.width / scale), qRound(screen.height / scale)));
      QVERIFY2(available.contains(places["sheet"]), qPrintable(QString("sheet %1x%2 on %3x%4")
                                                                   .arg(places["sheet"].width())
                                                                   .arg(places["sheet"].height())
                                                                   .arg(available.width())
                                                                   .arg(available.height())));
      QVERIFY(available.contains(places["ok"]));
      QVERIFY(places["page"].contains(places["passive"]));
      // Each of these screens is too low for the tallest page: the sheet was bounded, not merely small.
      QVERIFY(places["needed"].height() > places["sheet"].height());
    }
  }
};

}  // namespace hx::test

int RunSheetPortTests(int argc, char** argv) {
  hx::test::SheetPortsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_sheet_ports.moc"
