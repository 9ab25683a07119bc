// The headless program as a service: start-up in a directory of its own, a port taken by someone else, a
// service switched off in the settings, and a clean exit on SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "app/config_store.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

// A UDP socket on a free port of every address, so that the program's TFTP listener cannot bind that port.
class TakenUdpPort {
 public:
  TakenUdpPort() : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot take a UDP port");
    m_port = ntohs(address.sin_port);
  }
  ~TakenUdpPort() { ::close(m_fd); }
  TakenUdpPort(const TakenUdpPort&) = delete;
  TakenUdpPort& operator=(const TakenUdpPort&) = delete;

  std::string Port() const { return std::to_string(m_port); }

 private:
  int m_fd;
  std::uint16_t m_port = 0;
};

// The first line the server sends on a new control connection, or "" when none comes within 10 s.
std::string FtpGreeting(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::string line;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    char c = 0;
    while (line.find("\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) line += c;
  }
  ::close(fd);
  return line;
}

TEST(HeadlessTest, FirstStartWritesSettingsAndStopsCleanly) {
  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TPort=0", "FTP/FPort=0", "FTP/FDataPort=0", "General/Debugging=3"});
  test::HarbinexProcess program(dir.Path());
  EXPECT_NE(program.TftpPort(), 0);
  EXPECT_NE(program.FtpPort(), 0);
  ConfigStore config(dir.Path() / "Harbinex.ini");
  EXPECT_EQ(config.GetProfileInt("General", "Debugging", -1), 0);
  EXPECT_EQ(config.GetProfileInt("TFTP", "TFTPServer", -1), 1);
  EXPECT_EQ(config.GetProfileInt("FTP", "FTPServer", -1), 1);
  EXPECT_EQ(config.GetProfileInt("TFTP", "TRetries", -1), 5);
  EXPECT_EQ(config.GetProfileString("TFTP", "TDLDir").back(), '/');
  EXPECT_EQ(program.Stop(), 0);
}

TEST(HeadlessTest, PortInUseIsReportedAndTheOtherServiceRuns) {
  TakenUdpPort taken;
  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TPort=" + taken.Port(), "FTP/FPort=0"});
  test::HarbinexProcess program(dir.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  EXPECT_TRUE(
      program.WaitForStderr("harbinex: TFTP: Couldn't bind socket: [10048] Address already in use\n"));
  EXPECT_EQ(program.Stdout().find("TFTP server listening"), std::string::npos);
  // Headless, the setting is the operator's: the next start tries the service again.
  EXPECT_EQ(ConfigStore(dir.Path() / "Harbinex.ini").GetProfileInt("TFTP", "TFTPServer", -1), 1);
  EXPECT_EQ(program.Stop(), 0);
}

TEST(HeadlessTest, NoServiceRunningEndsTheProgramWithAnError) {
  TakenUdpPort taken;
  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TPort=" + taken.Port(), "FTP/FTPServer=0", "FTP/FPort=0"});
  test::HarbinexProcess program(dir.Path(), /*expectTftp=*/false, /*expectFtp=*/false);
  EXPECT_TRUE(program.WaitForStdout("FTP server is off (FTP/FTPServer=0)\n"));
  EXPECT_TRUE(program.WaitForStderr("harbinex: no service is running; both are off or could not start\n"));
  // The program ends by itself; the stop signal, blocked by then, only collects the exit status.
  EXPECT_EQ(program.Stop(), 1);
  EXPECT_EQ(program.Stdout().find("listening"), std::string::npos);
  EXPECT_EQ(program.Stderr(),
            "harbinex: TFTP: Couldn't bind socket: [10048] Address already in use\n"
            "harbinex: no service is running; both are off or could not start\n");
  ConfigStore config(dir.Path() / "Harbinex.ini");
  EXPECT_EQ(config.GetProfileInt("TFTP", "TFTPServer", -1), 1);
  EXPECT_EQ(config.GetProfileInt("FTP", "FTPServer", -1), 0);
}

// A user's program may not bind the standard ports: each service's line says what to do about it.
TEST(HeadlessTest, PortsThatNeedPrivilegesSaySo) {
  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TPort=69", "FTP/FPort=21"});
  test::HarbinexProcess program(dir.Path(), /*expectTftp=*/false, /*expectFtp=*/false,
                                std::chrono::seconds(20), std::nullopt, /*unprivileged=*/true);
  EXPECT_TRUE(program.WaitForStderr("harbinex: no service is running; both are off or could not start\n"));
  EXPECT_EQ(program.Stop(), 1);
  const std::string err = program.Stderr();
  EXPECT_NE(err.find("harbinex: TFTP: port 69 needs root or CAP_NET_BIND_SERVICE; set TPort\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("harbinex: FTP: port 21 needs root or CAP_NET_BIND_SERVICE; set FPort\n"),
            std::string::npos)
      << err;
}

// A list that cannot be read keeps its service from starting rather than serving everyone or no one.
TEST(HeadlessTest, SpoiltAllowListKeepsItsServiceFromStarting) {
  struct Case {
    std::string entry;
    bool tftpRuns;
    std::string message;
  };
  const Case cases[] = {
      {"TFTP/TAllow=10.0.0.0/8, 10.0.0.0/33", false,
       "harbinex: TFTP server not started: TFTP/TAllow entry 2 \"10.0.0.0/33\" has a longer prefix than its "
       "address (IPv4 at most /32, IPv6 at most /128)\n"},
      {"FTP/FAllow=fd00::/8,,::1", true, "harbinex: FTP server not started: FTP/FAllow entry 2 is empty\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    test::TempDir dir;
    test::WriteIni(dir.Path(), {"TFTP/TPort=0", "FTP/FPort=0", c.entry});
    test::HarbinexProcess program(dir.Path(), c.tftpRuns, !c.tftpRuns);
    EXPECT_TRUE(program.WaitForStderr(c.message));
    EXPECT_EQ(program.Stderr(), c.message);
    EXPECT_EQ(program.TftpPort() != 0, c.tftpRuns);
    EXPECT_EQ(program.FtpPort() != 0, !c.tftpRuns);
    EXPECT_EQ(program.Stop(), 0);
  }
}

TEST(HeadlessTest, ServiceOffBySettingIsNamedAndTheOtherServes) {
  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TFTPServer=0", "TFTP/TPort=0", "FTP/FPort=0"});
  test::HarbinexProcess program(dir.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  EXPECT_TRUE(program.WaitForStdout("TFTP server is off (TFTP/TFTPServer=0)\n"));
  EXPECT_EQ(program.Stdout().find("TFTP server listening"), std::string::npos);
  EXPECT_EQ(FtpGreeting(program.FtpPort()).substr(0, 4), "220 ");
  EXPECT_EQ(program.Stop(), 0);
}

}  // namespace
}  // namespace hx
