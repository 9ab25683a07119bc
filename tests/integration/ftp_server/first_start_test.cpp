// A first start without a window, with both services in the test's process: nothing is open to strangers
// until the operator says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/config_keys.h"
#include "app/server_app.h"
#include "ftp/server/ftp_listener.h"
#include "ftp_test_support.h"
#include "integration/tftp/udp_peer.h"
#include "support/manual_clock.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/tftp_listener.h"

namespace hx::test {
namespace {

// The real services, on ports of their own choosing: a first start writes the standard ports, which a test
// cannot have.
ServerApp::Services OnAnyPorts() {
  return {[](AppContext& context, asio::io_context& network) {
            cfg::Write(context.config, cfg::kTPort, 0);
            return MakeTftpListener(context, network);
          },
          [](AppContext& context, asio::io_context& network) {
            cfg::Write(context.config, cfg::kFPort, 0);
            cfg::Write(context.config, cfg::kFDataPort, 0);
            return MakeFtpListener(context, network);
          },
          nullptr};
}

class HeadlessFirstStart : public testing::Test {
 protected:
  void SetUp() override {
    // The transfer folder that a first start makes goes into the test's own directory.
    const char* saved = std::getenv("TMPDIR");
    m_savedTmpDir = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("TMPDIR", m_temp.Path().c_str(), 1);
    m_app = std::make_unique<ServerApp>(m_dir.Path(), m_frontend, OnAnyPorts(), ServerApp::Mode::Headless,
                                        &m_clock);
    ASSERT_TRUE(m_app->InitInstance());
    ASSERT_TRUE(m_app->TftpPort() && m_app->FtpPort());
    // No idle limit: the one wait on the clock is the pause after a refused login.
    cfg::Write(m_app->Config(), cfg::kFIdleTimeout, 0);
  }
  void TearDown() override {
    if (m_app) m_app->ExitInstance();
    if (m_savedTmpDir)
      ::setenv("TMPDIR", m_savedTmpDir->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  ManualClock m_clock;  // outlives the application, whose sessions hold its timers
  TempDir m_dir;
  TempDir m_temp;
  std::optional<std::string> m_savedTmpDir;
  RecordingFrontend m_frontend;
  std::unique_ptr<ServerApp> m_app;
};

TEST_F(HeadlessFirstStart, AnonymousAndTftpWritesAreOff) {
  ASSERT_TRUE(m_app->SafeFirstStart());

  UdpPeer tftp;
  tftp.SendTo(*m_app->TftpPort(), Request(2, "up.bin", "octet"));
  auto refused = tftp.Receive();
  ASSERT_TRUE(refused);
  EXPECT_EQ(OpcodeOf(*refused), 5);
  EXPECT_EQ(NumberOf(*refused), 2);
  EXPECT_EQ(ErrorText(*refused), "Access violation");
  EXPECT_TRUE(m_frontend.WaitForLogEntry("TFTP: Write requests are off (TFTP/TAllowWrite=0)"));

  const std::string banner = "220 Vantrel FTP Server Version 1.1\r\n";
  ControlClient anonymous(*m_app->FtpPort());
  EXPECT_EQ(anonymous.Line(), banner);
  EXPECT_EQ(anonymous.Command("USER anonymous"), "331 User name ok, need password\r\n");
  anonymous.Send("PASS guest@\r\n");
  ASSERT_TRUE(m_clock.WaitForPendingWaits(1));
  m_clock.Advance(std::chrono::seconds(1));
  EXPECT_EQ(anonymous.Line(), "530 Login access denied\r\n");

  // The operator lets anonymous in: uploads stay off.
  cfg::Write(m_app->Config(), cfg::kAnonAllowed, 1);
  ControlClient allowed(*m_app->FtpPort());
  EXPECT_EQ(allowed.Line(), banner);
  EXPECT_EQ(allowed.Command("USER anonymous"), "331 User name ok, need password\r\n");
  EXPECT_EQ(allowed.Command("PASS guest@"), "230 User logged in\r\n");
  EXPECT_EQ(allowed.Command("STOR up.bin"), "532 Need account for storing files\r\n");
}

}  // namespace
}  // namespace hx::test
