// The program's own servers beside the window: what their sessions report to the operator never holds them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractProxyModel>
#include <QMenu>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/config_keys.h"
#include "app/worker_registry.h"
#include "ui/notice_pane.h"
#include "ui/session_actions.h"
#include "ui/session_model.h"
#include "ui/session_view.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kListFailure = "Could not connect to peer. Aborting transfer.";

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket on 127.0.0.1 whose every wait ends after five seconds.
class Socket {
 public:
  explicit Socket(int type) : m_fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
    timeval limit{5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  ~Socket() { ::close(m_fd); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return m_fd; }

 private:
  int m_fd;
};

// An FTP control connection: commands out, reply lines in.
class Control {
 public:
  explicit Control(std::uint16_t port) : m_socket(SOCK_STREAM) {
    sockaddr_in address = Loopback(port);
    m_connected = ::connect(m_socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  // The next reply line without its CR LF; empty when none comes.
  std::string Line() {
    for (;;) {
      if (size_t end = m_pending.find("\r\n"); end != std::string::npos) {
        std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end + 2);
        return line;
      }
      char buffer[512];
      ssize_t got = m_connected ? ::recv(m_socket.Fd(), buffer, sizeof buffer, 0) : -1;
      if (got <= 0) return {};
      m_pending.append(buffer, static_cast<size_t>(got));
    }
  }
  std::string Command(const std::string& line) {
    std::string bytes = line + "\r\n";
    if (::send(m_socket.Fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) return {};
    return Line();
  }
  // Banner, USER and PASS of an anonymous login: true when it is accepted.
  bool LogIn() {
    return Line().starts_with("220") && Command("USER anonymous").starts_with("331") &&
           Command("PASS me@").starts_with("230");
  }

 private:
  Socket m_socket;
  bool m_connected = false;
  std::string m_pending;
};

// Downloads a file of less than one block with a TFTP RRQ; its content, or empty.
std::string TftpDownload(std::uint16_t port, const std::string& name) {
  Socket socket(SOCK_DGRAM);
  std::string request = std::string("\0\1", 2) + name + '\0' + "octet" + '\0';
  sockaddr_in server = Loopback(port);
  ::sendto(socket.Fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server),
           sizeof server);
  char packet[600];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  ssize_t got =
      ::recvfrom(socket.Fd(), packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (got < 4 || packet[1] != 3 || packet[3] != 1) return {};
  const char ack[4] = {0, 4, 0, 1};
  ::sendto(socket.Fd(), ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
  return std::string(packet + 4, static_cast<size_t>(got - 4));
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Selects the row of a session in the list, whatever proxies stand between the list and the model; false
// when the list does not show it.
bool SelectSession(SessionView& list, int id) {
  QAbstractItemModel* shown = list.model();
  for (int row = 0; row < shown->rowCount(); ++row) {
    QModelIndex source = shown->index(row, 0);
    while (auto* proxy = qobject_cast<const QAbstractProxyModel*>(source.model()))
      source = proxy->mapToSource(source);
    auto* model = qobject_cast<const SessionModel*>(source.model());
    if (!model || model->SessionIdAt(source.row()) != id) continue;
    list.selectRow(row);
    return true;
  }
  return false;
}

// The item of the row menu with that text, the menu shown for the selected rows.
QAction* MenuItem(MainWindow& window, const QString& text) {
  window.RowActions()->ShowMenu(QPoint(5, 5));
  for (QAction* action : window.RowActions()->Menu()->actions())
    if (action->text() == text) return action;
  return nullptr;
}

}  // namespace

class ServersBesideWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void failedListsNeitherStopTheServersNorOpenBoxes() {
    QTemporaryDir files;
    const std::string served = files.path().toStdString() + "/";
    const std::string content(300, 'p');
    WriteText(served + "probe.bin", content);
    WindowFixture::Options options;
    options.ini =
        "[General]\r\nLogging=0\r\n[TFTP]\r\nTPort=0\r\nTPerAddress=0\r\nTDLDir=" + served +
        "\r\n[FTP]\r\nFPort=0\r\nFDataPort=0\r\nFPerAddress=0\r\nAnonAllowed=1\r\nFDLDir=" + served + "\r\n";
    options.realServices = true;
    WindowFixture f(options);
    QVERIFY(f.started);
    QVERIFY(f.app->TftpPort() && f.app->FtpPort());
    const std::uint16_t tftpPort = *f.app->TftpPort();
    const std::uint16_t ftpPort = *f.app->FtpPort();

    // A port bound and never listened on refuses every data connection; it stays bound until the end.
    Socket refusing(SOCK_STREAM);
    sockaddr_in address = Loopback(0);
    QCOMPARE(::bind(refusing.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(refusing.Fd(), reinterpret_cast<sockaddr*>(&address), &length);
    const int refusingPort = ntohs(address.sin_port);
    const std::string portCommand =
        "PORT 127,0,0,1," + std::to_string(refusingPort / 256) + "," + std::to_string(refusingPort % 256);

    // One anonymous session each, as many as once stopped both services, all of them left open.
    constexpr int kFailures = 66;
    std::atomic<int> failedLists{0};
    std::atomic<bool> done{false};
    std::string downloaded;
    bool loggedIn = false;
    double downloadSeconds = -1, loginSeconds = -1;
    std::thread peer([&] {
      std::vector<std::unique_ptr<Control>> sessions;
      for (int i = 0; i < kFailures; ++i) {
        auto& session = sessions.emplace_back(std::make_unique<Control>(ftpPort));
        if (session->LogIn() && session->Command(portCommand).starts_with("200") &&
            session->Command("LIST").starts_with("150") && session->Line().starts_with("425"))
          ++failedLists;
      }
      Clock::time_point start = Clock::now();
      downloaded = TftpDownload(tftpPort, "probe.bin");
      downloadSeconds = SecondsSince(start);
      start = Clock::now();
      loggedIn = Control(ftpPort).LogIn();
      loginSeconds = SecondsSince(start);
      done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 120000);
    peer.join();
    QCOMPARE(failedLists.load(), kFailures);
    QCOMPARE(downloaded, content);
    QVERIFY2(downloadSeconds < 1.0, qPrintable(QString("download took %1 s").arg(downloadSeconds)));
    QVERIFY(loggedIn);
    QVERIFY2(loginSeconds < 1.0, qPrintable(QString("login took %1 s").arg(loginSeconds)));

    // The window shows the failures as one line with their count, in at most one box that waits for nobody.
    const std::string folded = std::string(kListFailure) + " (x 66)";
    QTRY_COMPARE(f.window->Notices()->Lines(), std::vector<std::string>{folded});
    QCOMPARE(f.window->Notices()->text(), QString::fromStdString(folded));
    QVERIFY(f.modals.Messages().empty());
    QCOMPARE(OpenMessageBoxes(), 1);
    QVERIFY(!QApplication::activeModalWidget());
  }

  // The operator ends sessions from their rows: a TFTP download that its peer stops acknowledging, and an
  // FTP download that its client stops reading, then that FTP connection itself.
  void cancelAndDisconnectFromTheRowMenu() {
    QTemporaryDir files;
    const std::string served = files.path().toStdString() + "/";
    WriteText(served + "small.bin", std::string(5000, 's'));
    { std::ofstream(served + "big.bin"); }
    std::filesystem::resize_file(served + "big.bin", 256ULL << 20);  // sparse; more than any socket holds
    WindowFixture::Options options;
    options.ini = "[General]\r\nLogging=0\r\n[TFTP]\r\nTPort=0\r\nTDLDir=" + served +
                  "\r\n[FTP]\r\nFPort=0\r\nFDataPort=0\r\nAnonAllowed=1\r\nFDLDir=" + served + "\r\n";
    options.realServices = true;
    WindowFixture f(options);
    QVERIFY(f.started);
    WorkerRegistry& registry = f.app->Registry();
    MainWindow& window = *f.window;

    // TFTP: the first block comes and is never acknowledged; the session waits for its ACK.
    Socket udp(SOCK_DGRAM);
    std::string request = std::string("\0\1", 2) + "small.bin" + '\0' + "octet" + '\0';
    sockaddr_in server = Loopback(*f.app->TftpPort());
    ::sendto(udp.Fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server),
             sizeof server);
    char packet[600];
    QVERIFY(::recv(udp.Fd(), packet, sizeof packet, 0) == 516 && packet[1] == 3);
    const int tftpId = registry.LastSessionId();
    QTRY_VERIFY(SelectSession(*window.SessionList(), tftpId));
    QVERIFY(!MenuItem(window, "&Disconnect")->isEnabled());
    QAction* cancel = MenuItem(window, "&Cancel transfer");
    QVERIFY(cancel->isEnabled());
    cancel->trigger();
    window.RowActions()->Menu()->hide();
    // The peer hears why (after any block sent again meanwhile).
    ssize_t got = 0;
    int reads = 0;
    do {
      got = ::recv(udp.Fd(), packet, sizeof packet - 1, 0);
    } while (got > 1 && packet[1] == 3 && ++reads < 10);
    QVERIFY(got > 4 && packet[1] == 5 && packet[3] == 0);
    packet[got] = '\0';
    QCOMPARE(std::string(packet + 4), std::string("Transfer cancelled by the operator"));
    QTRY_COMPARE(window.Sessions()->Cell(window.Sessions()->RowOf(tftpId), kColStatus),
                 QString("Transfer cancelled by the operator"));
    QVERIFY(window.Sessions()->Failed(window.Sessions()->RowOf(tftpId)));

    // FTP: a passive download of a file larger than the socket buffers, whose data nobody reads.
    Control control(*f.app->FtpPort());
    QVERIFY(control.LogIn());
    const std::string pasv = control.Command("PASV");
    const auto open = pasv.find('(');
    QVERIFY2(pasv.starts_with("227") && open != std::string::npos, pasv.c_str());
    int a[6] = {};
    QCOMPARE(
        std::sscanf(pasv.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &a[0], &a[1], &a[2], &a[3], &a[4], &a[5]), 6);
    Socket data(SOCK_STREAM);
    int small = 4096;
    ::setsockopt(data.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in dataAddress = Loopback(static_cast<std::uint16_t>(a[4] * 256 + a[5]));
    QCOMPARE(::connect(data.Fd(), reinterpret_cast<sockaddr*>(&dataAddress), sizeof dataAddress), 0);
    QVERIFY(control.Command("RETR big.bin").starts_with("150"));
    const int ftpId = registry.LastSessionId();
    QTRY_VERIFY((registry.OfferedActions(ftpId) & kOffersCancel) != 0);
    QTRY_VERIFY(SelectSession(*window.SessionList(), ftpId));  // the row reaches the window in a later batch
    QVERIFY(MenuItem(window, "&Disconnect")->isEnabled());
    MenuItem(window, "&Cancel transfer")->trigger();
    window.RowActions()->Menu()->hide();
    QCOMPARE(control.Line(), std::string("426 Transfer aborted by the operator"));
    // The session goes on without its transfer; Delete now disconnects it.
    QCOMPARE(control.Command("NOOP"), std::string("200 Command OK"));
    QCOMPARE(registry.OfferedActions(ftpId), kOffersDisconnect);
    window.SessionList()->setFocus();
    QTest::keyClick(window.SessionList(), Qt::Key_Delete);
    QCOMPARE(control.Line(), std::string("421 Disconnected by the operator"));
    QCOMPARE(control.Line(), std::string());  // closed
    QTRY_COMPARE(window.Sessions()->Cell(window.Sessions()->RowOf(ftpId), kColStatus),
                 QString("421 Disconnected by the operator"));
    QVERIFY(window.Sessions()->Failed(window.Sessions()->RowOf(ftpId)));
  }
};

}  // namespace hx::test

int RunServersBesideWindowTests(int argc, char** argv) {
  hx::test::ServersBesideWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_servers_beside_window.moc"
