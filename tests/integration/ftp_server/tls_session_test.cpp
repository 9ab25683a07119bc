// TLS on the control and data connections of sessions inside the test's process, on the manual clock: the
// TLS commands and what a server that requires TLS refuses, handshakes that fail or never come, and data
// connections that do not resume the control connection's session.
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>

#include "app/config_keys.h"
#include "support/ftp_session/ftp_session_fixture.h"

namespace hx::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBanner = "220 Vantrel FTP Server Version 1.1\r\n";
constexpr const char* kRetrOk = "150 File status OK ; about to open data connection\r\n";

// A blocking connection to a port of 127.0.0.1 whose reads give up after 5 s.
int ConnectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval limit{.tv_sec = 5, .tv_usec = 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

// "229 Entering Extended Passive Mode (|||port|)."
std::uint16_t EpsvPort(const std::string& reply) {
  size_t at = reply.find("(|||");
  return at == std::string::npos ? 0 : static_cast<std::uint16_t>(std::stoi(reply.substr(at + 4)));
}

class TlsSessionTest : public FtpSessionTest {
 protected:
  void SetUp() override {
    EnableTls();
    std::ofstream(Root() / "image.bin", std::ios::binary) << kImage;
  }

  // A session encrypted with AUTH TLS and logged in anonymously, PBSZ and PROT P sent.
  std::unique_ptr<TlsTestClient> SecureLogin() {
    auto client = std::make_unique<TlsTestClient>(ConnectSocket());
    EXPECT_EQ(client->Line(), kBanner);
    EXPECT_EQ(client->Command("AUTH TLS"), "234 AUTH TLS successful\r\n");
    EXPECT_TRUE(client->StartTls()) << client->Failure();
    EXPECT_EQ(client->Command("USER anonymous"), "331 User name ok, need password\r\n");
    EXPECT_EQ(client->Command("PASS me@"), "230 User logged in\r\n");
    EXPECT_EQ(client->Command("PBSZ 0"), "200 PBSZ=0\r\n");
    EXPECT_EQ(client->Command("PROT P"), "200 Protection level set to P\r\n");
    EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
    return client;
  }

  const std::string kImage = std::string(300000, 'x') + "end";
};

TEST_F(TlsSessionTest, CommandsInOrderAndOutOfOrder) {
  struct Step {
    const char* line;
    const char* reply;
  };
  auto client = Login();
  // A connection held in memory has no socket that could be encrypted.
  for (Step step :
       {Step{"PBSZ 0", "503 Bad sequence of commands\r\n"}, Step{"PROT P", "503 PBSZ first\r\n"},
        Step{"AUTH KERBEROS", "504 AUTH type not supported\r\n"},
        Step{"AUTH TLS", "431 TLS is not available\r\n"}, Step{"CCC", "502 Command CCC not implemented\r\n"}})
    EXPECT_EQ(client->Command(step.line), step.reply) << step.line;
  auto secured = SecureLogin();
  for (Step step :
       {Step{"PROT S", "536 Requested PROT level not supported by mechanism\r\n"},
        Step{"PROT E", "504 Command not implemented for that parameter\r\n"},
        Step{"PROT C", "200 Protection level set to C\r\n"}, Step{"AUTH TLS", "503 TLS is already on\r\n"}})
    EXPECT_EQ(secured->Command(step.line), step.reply) << step.line;
  EXPECT_TRUE(WaitForLog("FTP: TLS established (TLSv1.3, TLS_AES_256_GCM_SHA384)"));
}

TEST_F(TlsSessionTest, FeatAndTheCommandsFollowTheSetting) {
  auto client = Connect();
  client->Send("FEAT\r\n");
  EXPECT_EQ(client->Lines(4), (std::vector<std::string>{"211- Feature listing\r\n", " AUTH TLS\r\n",
                                                        " PBSZ\r\n", " PROT\r\n"}));
  SetSetting(cfg::kFtp, cfg::kFTLS.key, 0);
  auto off = Connect();
  off->Send("FEAT\r\n");
  EXPECT_EQ(off->Lines(2), (std::vector<std::string>{"211- Feature listing\r\n", " MDTM\r\n"}));
  // Off, they are unknown commands, as they were before TLS.
  EXPECT_EQ(Connect()->Command("AUTH TLS"), "530 Not logged in\r\n");
}

TEST_F(TlsSessionTest, RequiredTlsRefusesLoginsAndDataInTheClear) {
  SetSetting(cfg::kFtp, cfg::kFTLS.key, 2);
  EXPECT_EQ(Connect()->Command("USER alice"), "530 TLS required\r\n");
  EXPECT_EQ(Connect()->Command("USER anonymous"), "530 TLS required\r\n");
  SetSetting(cfg::kFtp, cfg::kFTLSAnonymousPlain.key, 1);
  EXPECT_EQ(Connect()->Command("USER anonymous"), "331 User name ok, need password\r\n");
  auto secured = SecureLogin();
  EXPECT_EQ(secured->Command("PROT C"), "200 Protection level set to C\r\n");
  EXPECT_EQ(secured->Command("RETR image.bin"), "521 Data connections must be encrypted\r\n");
  EXPECT_EQ(secured->Command("NLST"), "521 Data connections must be encrypted\r\n");
}

TEST_F(TlsSessionTest, AHandshakeThatFailsOrNeverComesEndsOnlyItsSession) {
  SetSetting(cfg::kFtp, cfg::kFIdleTimeout.key, 30);
  TlsTestClient silent(ConnectSocket());
  EXPECT_EQ(silent.Line(), kBanner);
  EXPECT_EQ(silent.Command("AUTH TLS"), "234 AUTH TLS successful\r\n");
  Advance(30s);
  EXPECT_TRUE(WaitForLog("FTP: TLS handshake failed: no handshake within 30 seconds"));
  EXPECT_TRUE(silent.Closed());

  // A line in the clear where the handshake should be.
  TlsTestClient clear(ConnectSocket());
  EXPECT_EQ(clear.Line(), kBanner);
  EXPECT_EQ(clear.Command("AUTH TLS"), "234 AUTH TLS successful\r\n");
  EXPECT_TRUE(clear.Send("USER anonymous\r\nPASS me@\r\n"));
  EXPECT_TRUE(clear.Closed());
  auto entries = LogEntries();
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const std::string& e) { return e.starts_with("FTP: TLS handshake failed: "); }),
            2);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "FTP: Login successful"), 0);
  SecureLogin();
}

TEST_F(TlsSessionTest, DataConnectionsMustResumeTheControlSession) {
  SetSetting(cfg::kFtp, cfg::kFDataTimeout.key, 20);
  auto control = SecureLogin();
  auto retr = [&](bool resume) {
    TlsTestClient data(ConnectTo(EpsvPort(control->Command("EPSV"))));
    EXPECT_EQ(control->Command("RETR image.bin"), kRetrOk);
    EXPECT_TRUE(data.StartTls(resume ? control.get() : nullptr)) << data.Failure();
    std::string bytes = data.ReadAll();
    return std::pair(bytes, control->Line());
  };
  auto [refusedBytes, refusal] = retr(false);
  EXPECT_EQ(refusal, "425 Can't open data connection\r\n");
  EXPECT_TRUE(
      WaitForLog("FTP: The data connection did not resume the TLS session of the control connection"));
  auto [bytes, done] = retr(true);
  EXPECT_EQ(bytes, kImage);
  EXPECT_EQ(done, "226 File transfer successful.\r\n");

  // A client that connects and never shakes hands is bounded by the data limit.
  TlsTestClient mute(ConnectTo(EpsvPort(control->Command("EPSV"))));
  EXPECT_EQ(control->Command("RETR image.bin"), kRetrOk);
  Advance(20s);
  EXPECT_EQ(control->Line(), "425 Can't open data connection\r\n");
}

TEST_F(TlsSessionTest, ImplicitTlsShakesHandsBeforeTheBannerAndProtectsData) {
  auto control = std::make_unique<TlsTestClient>(ConnectSocket(/*implicitTls=*/true));
  ASSERT_TRUE(control->StartTls()) << control->Failure();
  EXPECT_EQ(control->Line(), kBanner);
  EXPECT_EQ(control->Command("USER anonymous"), "331 User name ok, need password\r\n");
  EXPECT_EQ(control->Command("PASS me@"), "230 User logged in\r\n");
  EXPECT_EQ(control->Command("TYPE I"), "200 Type set to I.\r\n");
  TlsTestClient data(ConnectTo(EpsvPort(control->Command("EPSV"))));
  EXPECT_EQ(control->Command("RETR image.bin"), kRetrOk);
  ASSERT_TRUE(data.StartTls(control.get())) << data.Failure();
  EXPECT_TRUE(data.Resumed());
  EXPECT_EQ(data.ReadAll(), kImage);
  EXPECT_EQ(control->Line(), "226 File transfer successful.\r\n");
}

}  // namespace
}  // namespace hx::test
