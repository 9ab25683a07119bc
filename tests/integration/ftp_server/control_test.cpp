// Conversations on the control connection: the banner, the login gate, dispatch, the refusals, the
// information commands, framing and the ends of a session.
#include <sys/socket.h>

#include <algorithm>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

class FtpControlTest : public FtpServerTest {
 protected:
  void SetUp() override { StartServer(); }
};

TEST_F(FtpControlTest, BannerGateAndLoginOrder) {
  auto client = Connect();
  EXPECT_TRUE(WaitForLog("FTP: Connection from 127.0.0.1"));
  // Before USER only USER passes; unknown verbs get the same refusal.
  EXPECT_EQ(client->Command("NOOP"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("PASS x"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("FOO bar"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("HELP"), "530 Not logged in\r\n");
  // FEAT answers at any time: a client asks what it may use before it logs in.
  EXPECT_EQ(client->Command("FEAT"), "211- Feature listing\r\n");
  std::string line;
  for (int i = 0; i < 20 && (line = client->Line()) != "211 End\r\n" && !line.empty(); ++i) {
  }
  EXPECT_EQ(line, "211 End\r\n");
  EXPECT_EQ(client->Command("user anonymous"), "331 User name ok, need password\r\n");
  // Between USER and PASS only PASS passes, a second USER included.
  EXPECT_EQ(client->Command("USER other"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("NOOP"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("PASS guest@"), "230 User logged in\r\n");
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
  EXPECT_TRUE(WaitForLogRun({"FTP: Login attempt by: anonymous", "FTP: Login successful"}));
}

TEST_F(FtpControlTest, RefusalsAfterLogin) {
  auto client = Login();
  EXPECT_EQ(client->Command("SITE CHMOD 644 a"), "502 Command SITE CHMOD 644 a not implemented\r\n");
  EXPECT_EQ(client->Command("STOU"), "502 Command STOU not implemented\r\n");
  EXPECT_EQ(client->Command("smnt x"), "502 Command smnt x not implemented\r\n");
  EXPECT_EQ(client->Command("USERX bob"), "502 Command USERX bob not implemented\r\n");
  EXPECT_EQ(client->Command("ACCT"), "202 Command not implemented on this site\r\n");
  EXPECT_EQ(client->Command("ALLO 1000"), "202 Command not implemented on this site\r\n");
  EXPECT_EQ(client->Command("PORT whatever"), "200 PORT command successful.\r\n");
  EXPECT_EQ(client->Command("OPTS MODE Z"), "502 Command OPTS MODE Z not implemented\r\n");
  // ABOR with nothing running says so (a client that aborts waits for an answer).
  EXPECT_EQ(client->Command("ABOR"), "225 No transfer to abort.\r\n");
  // Three bytes before ABOR make it ABOR; four make an unknown command.
  EXPECT_EQ(client->Command("xyzABOR"), "225 No transfer to abort.\r\n");
  EXPECT_EQ(client->Command("wxyzABOR"), "502 Command wxyzABOR not implemented\r\n");
}

TEST_F(FtpControlTest, InformationCommands) {
  auto client = Login("AnonYmous", "");
  client->Send("HELP me\r\n");
  std::vector<std::string> help = client->Lines(31);
  EXPECT_EQ(help.front(), "214-USER\tEnter user name\r\n");
  EXPECT_EQ(help[20], "PWD\tPrint working directory\r\n");
  EXPECT_EQ(help.back(), "214 Help command successful\r\n");
  EXPECT_EQ(client->Command("FEAT"), "211- Feature listing\r\n");
  EXPECT_EQ(client->Lines(14),
            (std::vector<std::string>{" AUTH TLS\r\n", " PBSZ\r\n", " PROT\r\n", " MDTM\r\n", " SIZE\r\n",
                                      " REST STREAM\r\n", " EPRT\r\n", " EPSV\r\n", " PASV\r\n",
                                      " MLST type*;size*;modify*;perm*;unique*;\r\n", " UTF8\r\n",
                                      " MFMT\r\n", " HASH SHA-256*;SHA-1;MD5\r\n", "211 End\r\n"}));
  EXPECT_EQ(client->Command("OPTS UTF8 ON"), "200 Always in UTF8 mode.\r\n");
  EXPECT_EQ(client->Command("opts utf8 on"), "200 Always in UTF8 mode.\r\n");
  EXPECT_EQ(client->Command("SYST"), "215 UNIX Type: L8\r\n");
  EXPECT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");
  EXPECT_EQ(client->Command("STAT"), "211- System status:\r\n");
  EXPECT_EQ(client->Lines(5),
            (std::vector<std::string>{
                "Harbinex version 1.1\r\n", "Connected to : 127.0.0.1\r\n", "Logged in as : AnonYmous\r\n",
                "Type: BINARY, STRUcture: FILE, MODE: STREAM\r\n", "211 End of status\r\n"}));
  EXPECT_EQ(client->Command("TYPE a"), "504 Command not implemented for that parameter\r\n");
  EXPECT_EQ(client->Command("TYPE L 8"), "504 Command not implemented for that parameter\r\n");
  EXPECT_EQ(client->Command("TYPE E"), "504 Type EBCDIC not supported\r\n");
  EXPECT_EQ(client->Command("TYPE A"), "200 Type set to A.\r\n");
  EXPECT_EQ(client->Command("MODE S"), "200 Command OK. Current mode is stream\r\n");
  EXPECT_EQ(client->Command("MODE B"), "504 Only stream mode is supported\r\n");
  EXPECT_EQ(client->Command("STRU F"), "200 Command OK. Current mode is File\r\n");
  EXPECT_EQ(client->Command("STRU R"), "504 FILE is only structure type supported\r\n");
}

TEST_F(FtpControlTest, FramingEmptyLinesAndOverlongLines) {
  auto client = Login();
  // LF alone ends a line; empty lines get no reply; a CR takes the next character into the line.
  client->Send("NOOP\n\r\n\nNOOP\r\n");
  EXPECT_EQ(client->Lines(2), (std::vector<std::string>{"200 Command OK\r\n", "200 Command OK\r\n"}));
  EXPECT_TRUE(client->Silent());
  client->Send("NOO\rP\n");
  EXPECT_EQ(client->Line(), "200 Command OK\r\n");
  // Lines arriving in pieces.
  client->Send("NO");
  EXPECT_TRUE(client->Silent(100ms));
  client->Send("OP\r\n");
  EXPECT_EQ(client->Line(), "200 Command OK\r\n");
  // 8,192 bytes are a line; more are discarded whole with one reply, and the session goes on.
  client->Send("NOOP " + std::string(8187, 'a') + "\r\n");
  EXPECT_EQ(client->Line(), "200 Command OK\r\n");
  client->Send("NOOP " + std::string(100000, 'b') + "\r\nNOOP\r\n");
  EXPECT_EQ(client->Line(), "500 Command line too long\r\n");
  EXPECT_EQ(client->Line(), "200 Command OK\r\n");
  // Pipelined commands are answered in order.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "NOOP\r\n";
  client->Send(many);
  std::vector<std::string> replies = client->Lines(200);
  EXPECT_EQ(std::count(replies.begin(), replies.end(), "200 Command OK\r\n"), 200);
}

TEST_F(FtpControlTest, ReinStartsTheLoginOver) {
  auto client = Login();
  client->Send("REIN\r\n");
  EXPECT_EQ(client->Command("NOOP"), "530 Not logged in\r\n");
  EXPECT_EQ(client->Command("USER anonymous"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PASS x"), "230 User logged in\r\n");
  EXPECT_EQ(client->Command("PWD"), "257 \"/\" is current directory\r\n");
}

TEST_F(FtpControlTest, QuitBeforeLogin) {
  auto client = Connect();
  EXPECT_EQ(client->Command("QUIT"), "221 Goodbye.\r\n");
  EXPECT_TRUE(client->WaitClosed());
  // Between USER and PASS as well.
  client = Connect();
  EXPECT_EQ(client->Command("USER anonymous"), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("QUIT"), "221 Goodbye.\r\n");
  EXPECT_TRUE(client->WaitClosed());
}

TEST_F(FtpControlTest, QuitClosesTheConnection) {
  auto client = Login();
  EXPECT_EQ(client->Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_TRUE(WaitForLogRun({"FTP: Login successful", "FTP: Connection closed"}));
}

TEST_F(FtpControlTest, ClientClosingEndsTheSessionInEveryPhase) {
  {
    auto client = Connect();  // before USER
  }
  {
    auto client = Connect();
    client->Send("USER anonymous\r\n");  // between USER and PASS, reply unread
  }
  {
    auto client = Login();
    client->Send("NOOP");  // in the middle of a line
    client->Connection().ShutdownWrite();
    EXPECT_EQ(client->Line(), "200 Command OK\r\n");  // the unfinished line still counts
    EXPECT_TRUE(client->WaitClosed());
  }
  {
    auto client = Login();
    client->Connection().Reset();
  }
  EXPECT_TRUE(WaitUntil([&] {
    auto entries = LogEntries();
    return std::count(entries.begin(), entries.end(), "FTP: Connection closed") == 4;
  }));
  // The server still serves.
  auto client = Login();
  EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
}

TEST_F(FtpControlTest, ConnectionsPerAddressAreCapped) {
  // The default cap of 16, then no cap: the seventeenth connection is refused only with the cap.
  for (const char* cap : {"16", "0"}) {
    SCOPED_TRACE(cap);
    SetSetting("FTP", "FPerAddress", cap);
    std::vector<std::unique_ptr<ControlClient>> clients;
    for (int i = 0; i < 16; ++i) clients.push_back(Login());
    ControlClient seventeenth(Port());
    if (std::string(cap) == "16") {
      EXPECT_EQ(seventeenth.Line(), "421 Too many connections from your address\r\n");
      EXPECT_TRUE(seventeenth.WaitClosed());
    } else {
      EXPECT_EQ(seventeenth.Line(), "220 Vantrel FTP Server Version 1.1\r\n");
    }
    for (auto& client : clients) EXPECT_EQ(client->Command("NOOP"), "200 Command OK\r\n");
    for (auto& client : clients)
      EXPECT_EQ(client->Command("QUIT"), "221 Service closing control connection\r\n");
  }
}

TEST_F(FtpControlTest, AllowListRefusesStrangersBeforeTheGreeting) {
  const std::string refusal = "421 Service not available, closing control connection.\r\n";
  const std::string banner = "220 Vantrel FTP Server Version 1.1\r\n";
  SetSetting("FTP", "FAllow", "127.0.0.1");
  struct Peer {
    bool ipv6;
    const char* source;
  };
  const Peer strangers[] = {{false, "127.0.0.2"}, {true, ""}};
  for (int round = 0; round < 2; ++round) {
    for (const Peer& peer : strangers) {
      SCOPED_TRACE(peer.ipv6 ? "::1" : peer.source);
      ControlClient stranger(Port(), peer.ipv6, peer.source);
      EXPECT_EQ(stranger.Line(), refusal);
      EXPECT_TRUE(stranger.WaitClosed());
    }
  }
  auto listed = Login();
  EXPECT_EQ(listed->Command("NOOP"), "200 Command OK\r\n");
  // One line a minute per address, however often it knocks; no session, no login for it. The lines of the
  // strangers were printed before those of the login.
  ASSERT_TRUE(WaitForLog("FTP: Login successful"));
  auto entries = LogEntries();
  EXPECT_EQ(std::count(entries.begin(), entries.end(),
                       "FTP: Address 127.0.0.2 is not in FAllow; its connections are refused"),
            1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(),
                       "FTP: Address ::1 is not in FAllow; its connections are refused"),
            1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "FTP: Connection from 127.0.0.2"), 0);
  // A new list reaches the next connection; the one logged in goes on.
  SetSetting("FTP", "FAllow", "\xEF\xBB\xBF 127.0.0.0/30, ::1");
  for (const Peer& peer : strangers) {
    ControlClient welcome(Port(), peer.ipv6, peer.source);
    EXPECT_EQ(welcome.Line(), banner);
  }
  SetSetting("FTP", "FAllow", "::ffff:127.0.0.2/128");
  EXPECT_EQ(ControlClient(Port(), false, "127.0.0.2").Line(), banner);
  EXPECT_EQ(ControlClient(Port()).Line(), refusal);
  EXPECT_EQ(listed->Command("NOOP"), "200 Command OK\r\n");
}

TEST_F(FtpControlTest, StopRequestEndsSessionsInEveryState) {
  // Sessions idle, waiting in the middle of a line, and with replies the client never reads: SIGTERM still
  // ends the program at once with status 0.
  auto idle = Login();
  auto partial = Login();
  partial->Send("NOO");
  auto flooding = Login();
  std::string many;
  for (int i = 0; i < 4000; ++i) many += "HELP\r\n";
  flooding->Send(many);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(m_program->Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_TRUE(idle->WaitClosed());
  EXPECT_TRUE(partial->WaitClosed());
}

TEST(FtpListenerTest, PortInUseIsReportedAndAFreedPortServesAgainAtOnce) {
  std::uint16_t port = UnusedPort();
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "root");
  std::vector<std::string> ini = {
      "TFTP/TFTPServer=0", "TFTP/TPort=0",      "FTP/FPort=" + std::to_string(port),
      "FTP/FDataPort=0",   "FTP/AnonAllowed=1", "FTP/FDLDir=" + dir.Dir() + "root/"};
  {
    WriteIni(dir.Path(), ini);
    HarbinexProcess first(dir.Path(), false, true);
    ControlClient client(first.FtpPort());
    EXPECT_EQ(client.Line(), "220 Vantrel FTP Server Version 1.1\r\n");
    // A second program on the same port is told so and, with no other service to run, ends with an error.
    TempDir other;
    WriteIni(other.Path(), ini);
    HarbinexProcess second(other.Path(), false, false);
    EXPECT_TRUE(
        second.WaitForStderr("harbinex: FTP: Couldn't bind socket: [10048] Address already in use\n"));
    EXPECT_EQ(second.Stop(), 1);
    EXPECT_EQ(client.Command("USER anonymous"), "331 User name ok, need password\r\n");
    EXPECT_EQ(client.Command("PASS x"), "230 User logged in\r\n");
    EXPECT_EQ(client.Command("QUIT"), "221 Service closing control connection\r\n");  // TIME_WAIT on the port
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_EQ(first.Stop(), 0);
  }
  WriteIni(dir.Path(), ini);
  HarbinexProcess again(dir.Path(), false, true);
  EXPECT_EQ(again.FtpPort(), port);
  EXPECT_EQ(again.Stderr(), "");
  EXPECT_EQ(again.Stop(), 0);
}

}  // namespace
}  // namespace hx::test
