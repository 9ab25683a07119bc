// A flood of requests and connections under a low descriptor limit: what cannot have a session is refused
// one by one (a TFTP request with "Server busy, try again"), the process stays up, and it serves again once
// the flood has passed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/harbinex_process.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

using namespace std::chrono_literals;
using test::Loopback;

constexpr unsigned kOpenFiles = 64;  // soft and hard: room for a few dozen sessions
constexpr int kFlood = 150;

struct Sockets {
  std::vector<int> fds;
  ~Sockets() {
    for (int fd : fds) ::close(fd);
  }
};

std::string FirstBytes(int fd, std::chrono::milliseconds timeout) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return {};
  char buffer[512];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

TEST(FloodTest, SessionsBeyondTheDescriptorLimitAreRefusedAndTheServiceGoesOn) {
  test::TempDir dir;
  const std::string content(70000, 'b');
  test::WriteFile(dir.Path() / "files" / "boot.bin", content);
  // Sessions that are never answered give up after two seconds.
  test::WriteIni(dir.Path(),
                 {"General/Logging=0", "TFTP/TPort=0", "TFTP/TTimeout=1", "TFTP/TRetries=1",
                  "TFTP/TDLDir=" + dir.Dir() + "files/", "FTP/FPort=0", "FTP/FDataPort=0",
                  "FTP/FDLDir=" + dir.Dir() + "files/", "TFTP/TPerAddress=0", "FTP/FPerAddress=0"});
  // The sanitizers' vptr check needs a descriptor of its own (a pipe) to look at memory, and without one it
  // reports sound objects as invalid; the program is meant to run out of descriptors here, so its reports
  // must not stop it (the sanitizer build lets that check go on).
  std::string sanitizerOptions = std::getenv("UBSAN_OPTIONS") ? std::getenv("UBSAN_OPTIONS") : "";
  ::setenv("UBSAN_OPTIONS", (sanitizerOptions + ":halt_on_error=0:print_stacktrace=0").c_str(), 1);
  test::HarbinexProcess program(dir.Path(), true, true, 20s, kOpenFiles);
  ::setenv("UBSAN_OPTIONS", sanitizerOptions.c_str(), 1);

  // FTP: more connections than descriptors, and every one of them is answered: the banner, or the refusal.
  {
    Sockets ftp;
    for (int i = 0; i < kFlood; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0);
      ftp.fds.push_back(fd);
      sockaddr_in server = Loopback(program.FtpPort());
      ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    }
    int greeted = 0, refused = 0;
    for (int fd : ftp.fds) {
      std::string first = FirstBytes(fd, 10s);
      if (first.rfind("220 ", 0) == 0) ++greeted;
      if (first == "421 Too many connections, try again later\r\n") ++refused;
    }
    EXPECT_GT(greeted, 0);
    EXPECT_GT(refused, 0);
    EXPECT_EQ(greeted + refused, kFlood);
    EXPECT_TRUE(program.WaitForStderr("harbinex: Could not create FTP session! Insufficient memory?\n"));
    EXPECT_TRUE(program.WaitForStdout("FTP: Could not create FTP session! Insufficient memory?"));
  }

  // TFTP: read requests that are never acknowledged, each session holding a socket and the file.
  {
    Sockets tftp;
    std::string request = std::string("\0\1boot.bin\0octet\0", 17);
    // Every request is answered: its first block, or the refusal of a server out of descriptors (for the
    // session's socket or for its file), which the log explains. Each is sent once the one before has its
    // answer, so that the service's queue never overflows and drops one.
    int served = 0, busy = 0;
    for (int i = 0; i < kFlood; ++i) {
      int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0);
      tftp.fds.push_back(fd);
      sockaddr_in server = Loopback(program.TftpPort());
      ASSERT_EQ(::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server),
                         sizeof server),
                static_cast<ssize_t>(request.size()));
      std::string first = FirstBytes(fd, 10s);
      if (first.compare(0, 4, std::string("\0\3\0\1", 4)) == 0) ++served;  // DATA 1
      if (first == std::string("\0\5\0\0Server busy, try again\0", 27)) ++busy;
    }
    EXPECT_GT(served, 0);
    EXPECT_GT(busy, 0);
    EXPECT_EQ(served + busy, kFlood);
    EXPECT_TRUE(program.WaitForStdout("TFTP: ERROR. Server busy: out of file descriptors"));
    EXPECT_EQ(program.Stdout().find("TFTP: Could not create TFTP session!"), std::string::npos);
  }

  // Once the flood has passed, both services answer again.
  std::string output;
  auto fetched = dir.Path() / "fetched.bin";
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        std::filesystem::remove(fetched);
        test::RunCommand({"tftp", "-m", "binary", "127.0.0.1", std::to_string(program.TftpPort()), "-c",
                          "get", "boot.bin", fetched.string()},
                         output, 20s);
        return std::filesystem::exists(fetched) && test::ReadFile(fetched) == content;
      },
      60s))
      << output;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in server = Loopback(program.FtpPort());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
  EXPECT_EQ(FirstBytes(fd, 10s), "220 Vantrel FTP Server Version 1.1\r\n");
  ::close(fd);
  EXPECT_EQ(program.Stop(), 0);
}

}  // namespace
}  // namespace hx
