// The headless program as a service: start-up in a directory of its own, a port taken by someone else, and
// a clean exit on SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/config_store.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"

namespace hx {
namespace {

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
  int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);

  test::TempDir dir;
  test::WriteIni(dir.Path(), {"TFTP/TPort=" + std::to_string(ntohs(address.sin_port)), "FTP/FPort=0"});
  test::HarbinexProcess program(dir.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  EXPECT_TRUE(program.WaitForStderr("harbinex: TFTP: Couldn't bind socket: [10048] Address already in use\n"));
  EXPECT_EQ(program.Stdout().find("TFTP server listening"), std::string::npos);
  EXPECT_EQ(ConfigStore(dir.Path() / "Harbinex.ini").GetProfileInt("TFTP", "TFTPServer", -1), 0);
  EXPECT_EQ(program.Stop(), 0);
  ::close(holder);
}

}  // namespace
}  // namespace hx
