// The program's own servers beside the window: what their sessions report to the operator never holds them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/config_keys.h"
#include "ui/notice_pane.h"
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
};

}  // namespace hx::test

int RunServersBesideWindowTests(int argc, char** argv) {
  hx::test::ServersBesideWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_servers_beside_window.moc"
