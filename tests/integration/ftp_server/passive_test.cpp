// Passive mode (PASV, EPSV) and EPRT as a client sees them: every data command over a connection the client
// opens, the listener's rules (only the client's address, one connection, its time limit, its port range),
// the refusals, and curl with its default settings.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

// The port of a 227 or 229 reply; 0 when the reply is neither.
std::uint16_t PassivePort(const std::string& reply) {
  unsigned h1, h2, h3, h4, p1, p2, port;
  if (std::sscanf(reply.c_str(), "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u).", &h1, &h2, &h3, &h4, &p1,
                  &p2) == 6)
    return static_cast<std::uint16_t>(p1 * 256 + p2);
  if (std::sscanf(reply.c_str(), "229 Entering Extended Passive Mode (|||%u|).", &port) == 1)
    return static_cast<std::uint16_t>(port);
  return 0;
}

// A TCP connection to 127.0.0.1:port from the local address `source`.
std::unique_ptr<TcpConnection> ConnectFrom(const char* source, std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, source, &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TcpConnection>(fd);
}

class FtpPassiveTest : public FtpServerTest {
 protected:
  void SetUp() override { StartServer({"FTP/UserSecurity=0"}); }
  std::string Path(const std::string& name) const { return RootDir() + name; }

  // PASV or EPSV, then the data command; returns the client's data connection, after the command's 150.
  std::unique_ptr<TcpConnection> Passive(ControlClient& client, const std::string& mode,
                                         const std::string& command, const std::string& opening) {
    std::string reply = client.Command(mode);
    if (mode == "PASV") {
      EXPECT_EQ(reply.substr(0, 37), "227 Entering Passive Mode (127,0,0,1,") << reply;
    }
    std::uint16_t port = PassivePort(reply);
    EXPECT_NE(port, 0) << reply;
    EXPECT_EQ(client.Command(command), opening) << command;
    return TcpConnection::Connect(port);
  }

  // LIST, NLST, RETR, STOR and APPE over passive connections opened with `mode`, with the replies and log
  // entries of the active path.
  void EveryDataCommand(const std::string& mode) {
    const std::string about = "150 File status OK ; about to open data connection\r\n";
    const std::string content = RandomBytes(100000, 7);
    WriteFile(Root() / "f.bin", content);
    auto client = Login();
    ASSERT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");  // the bytes as they are
    auto data = Passive(*client, mode, "LIST", about);
    ASSERT_TRUE(data);
    std::string listing = data->ReceiveAll();
    EXPECT_NE(listing.find(" f.bin\r\n"), std::string::npos) << listing;
    EXPECT_EQ(client->Line(), "226 Closing data connection\r\n");

    data = Passive(*client, mode, "NLST", about);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ReceiveAll(), "f.bin\r\n");
    EXPECT_EQ(client->Line(), "226 Closing data connection\r\n");

    data = Passive(*client, mode, "RETR f.bin", about);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ReceiveAll(), content);
    EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
    EXPECT_TRUE(WaitForLogRun({"FTP: Starting GET file transfer of " + Path("f.bin"),
                               "File " + Path("f.bin") + " Bytes transferred: 100000",
                               "FTP: File Transfer successful"}));

    data = Passive(*client, mode, "STOR up.bin", "150 Opening BINARY mode data connection for up.bin.\r\n");
    ASSERT_TRUE(data);
    ASSERT_TRUE(data->Send(content));
    data.reset();
    EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
    EXPECT_TRUE(WaitForLogRun(
        {"FTP: Starting PUT file transfer of " + Path("up.bin"), "FTP: Transfer was successful"}));

    data = Passive(*client, mode, "APPE up.bin", "150 Opening BINARY mode data connection for up.bin.\r\n");
    ASSERT_TRUE(data);
    ASSERT_TRUE(data->Send("tail"));
    data.reset();
    EXPECT_EQ(client->Line(), "226 File transfer successful\r\n");
    EXPECT_EQ(ReadFile(Root() / "up.bin"), content + "tail");

    // ABOR of a download whose client stops reading, as in active mode.
    WriteFile(Root() / "big.bin", RandomBytes(64 << 20, 7));
    data = Passive(*client, mode, "RETR big.bin", about);
    ASSERT_TRUE(data);
    EXPECT_FALSE(data->Receive(5s, 1000).empty());
    EXPECT_EQ(client->Command("ABOR"), "426 Transfer terminated abnormally\r\n");
    EXPECT_EQ(client->Line(), "226 ABORT command successful.\r\n");
    EXPECT_TRUE(WaitForLog("FTP: File transfer aborted"));
  }
};

TEST_F(FtpPassiveTest, PasvCarriesEveryDataCommand) {
  EveryDataCommand("PASV");
}

TEST_F(FtpPassiveTest, EpsvCarriesEveryDataCommand) {
  EveryDataCommand("EPSV");
}

TEST_F(FtpPassiveTest, EpsvArguments) {
  auto client = Login();
  EXPECT_NE(PassivePort(client->Command("EPSV 1")), 0);
  EXPECT_EQ(client->Command("EPSV 2"),
            "522 Network protocol not supported, use (1,2)\r\n");  // not this connection's
  EXPECT_EQ(client->Command("EPSV 7"), "522 Network protocol not supported, use (1,2)\r\n");
  // After EPSV ALL only EPSV opens data connections.
  EXPECT_EQ(client->Command("EPSV ALL"), "200 EPSV ALL command successful.\r\n");
  EXPECT_EQ(client->Command("PASV"), "503 Bad sequence of commands\r\n");
  EXPECT_EQ(client->Command("PORT 127,0,0,1,19,137"), "503 Bad sequence of commands\r\n");
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.1|5001|"), "503 Bad sequence of commands\r\n");
  EXPECT_NE(PassivePort(client->Command("EPSV")), 0);
}

// The Overwrite right holds when the file is created: a name that another session stores between a STOR's
// 150 and its data connection is refused, and the other session's file stays as it was stored.
TEST_F(FtpPassiveTest, PendingStoreNeverOverwritesAFileThatAppearedMeanwhile) {
  SetSetting("FTP", "UserSecurity", "1");  // anonymous with the settings' rights: upload, but no overwrite
  const std::string opening = "150 Opening BINARY mode data connection for race.bin.\r\n";
  auto pending = Login();
  std::string reply = pending->Command("PASV");
  std::uint16_t port = PassivePort(reply);
  ASSERT_NE(port, 0) << reply;
  EXPECT_EQ(pending->Command("STOR race.bin"), opening);

  auto other = Login();
  auto data = Passive(*other, "PASV", "STOR race.bin", opening);
  ASSERT_TRUE(data);
  ASSERT_TRUE(data->Send("theirs"));
  data.reset();
  EXPECT_EQ(other->Line(), "226 File transfer successful\r\n");

  data = TcpConnection::Connect(port);
  ASSERT_TRUE(data);
  data->Send("mine");
  EXPECT_EQ(pending->Line(), "550 File unavailable. Overwrite not allowed by user profile\r\n");
  EXPECT_TRUE(data->WaitClosed());
  EXPECT_EQ(ReadFile(Root() / "race.bin"), "theirs");
  EXPECT_EQ(pending->Command("NOOP"), "200 Command OK\r\n");
}

TEST_F(FtpPassiveTest, ConnectionFromAnotherAddressIsIgnored) {
  const std::string content = RandomBytes(5000, 7);
  WriteFile(Root() / "f.bin", content);
  auto client = Login();
  ASSERT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");  // the bytes as they are
  std::uint16_t port = PassivePort(client->Command("PASV"));
  ASSERT_NE(port, 0);
  auto intruder = ConnectFrom("127.0.0.2", port);
  ASSERT_TRUE(intruder);  // the system takes it into the queue; the server closes it unserved
  EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
  EXPECT_EQ(intruder->ReceiveAll(5s), "");
  EXPECT_TRUE(intruder->Closed());
  EXPECT_TRUE(client->Silent());
  // The client still gets its file.
  auto data = TcpConnection::Connect(port);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->ReceiveAll(), content);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  // One connection per command: the listener is gone.
  EXPECT_FALSE(TcpConnection::Connect(port));
}

TEST_F(FtpPassiveTest, ListenerClosesAfterTheDataTimeout) {
  SetSetting("FTP", "FDataTimeout", "1");
  WriteFile(Root() / "f.bin", "x");
  auto client = Login();
  std::uint16_t port = PassivePort(client->Command("PASV"));
  ASSERT_NE(port, 0);
  EXPECT_TRUE(WaitUntil([&] { return TcpConnection::Connect(port) == nullptr; }, 10s));
  EXPECT_EQ(client->Command("RETR f.bin"), "425 Can't open data connection\r\n");
  // A data command that waits for a client that never comes ends the same way.
  port = PassivePort(client->Command("EPSV"));
  ASSERT_NE(port, 0);
  EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
  EXPECT_EQ(client->Line(10s), "425 Can't open data connection\r\n");
  EXPECT_FALSE(TcpConnection::Connect(port));
}

TEST_F(FtpPassiveTest, PortRangeIsRespected) {
  const std::uint16_t first = UnusedPort();
  const std::uint16_t last = static_cast<std::uint16_t>(first + 2);
  SetSetting("FTP", "FPassivePorts", std::to_string(first) + "-" + std::to_string(last));
  SetSetting("FTP", "FPerAddress", "0");  // three listeners from one address
  auto client = Login();
  for (int i = 0; i < 6; ++i) {
    std::uint16_t port = PassivePort(client->Command(i % 2 ? "EPSV" : "PASV"));
    EXPECT_GE(port, first) << i;
    EXPECT_LE(port, last) << i;
  }
  // A range that is all taken refuses: the client holds one port, two more sessions the others.
  std::vector<std::unique_ptr<ControlClient>> holders;
  for (int i = 0; i < 2; ++i) {
    holders.push_back(Login());
    std::uint16_t port = PassivePort(holders.back()->Command("PASV"));
    EXPECT_GE(port, first) << i;
    EXPECT_LE(port, last) << i;
  }
  EXPECT_EQ(Login()->Command("PASV"), "425 Can't open data connection\r\n");
}

// Ten ports carry any number of downloads one after the other: a port is bound again at once while its last
// connections wait out TIME_WAIT, and the ports are taken in turn.
TEST_F(FtpPassiveTest, TenPortRangeCarriesTwoThousandDownloads) {
  // Below the system's ephemeral ports, where neither port-0 listeners nor clients' connections land; spread
  // by the process id so that parallel runs seldom meet (a port held elsewhere is skipped by the server).
  const unsigned first = 20000 + static_cast<unsigned>(::getpid() % 1200) * 10;
  const unsigned last = first + 9;
  SetSetting("FTP", "FPassivePorts", std::to_string(first) + "-" + std::to_string(last));
  WriteFile(Root() / "small.bin", RandomBytes(1000, 5));
  WriteFile(m_dir.Path() / "small.bin", RandomBytes(1000, 5));
  const std::string script = R"PY(
import ftplib, sys
port, count, expected = int(sys.argv[1]), int(sys.argv[2]), open(sys.argv[3], 'rb').read()
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', port, timeout=10)
ftp.login()
ftp.voidcmd('TYPE I')
ports = []
makepasv = ftp.makepasv
def recording():
    host, port = makepasv()
    ports.append(port)
    return host, port
ftp.makepasv = recording
for i in range(count):
    got = bytearray()
    ftp.retrbinary('RETR small.bin', got.extend)
    if bytes(got) != expected:
        sys.exit('download %d differs' % i)
ftp.quit()
repeats = sum(1 for a, b in zip(ports, ports[1:]) if a == b)
print(len(ports), min(ports), max(ports), len(set(ports)), repeats)
)PY";
  std::string output;
  int status = RunCommand(
      {"python3", "-c", script, std::to_string(Port()), "2000", (m_dir.Path() / "small.bin").string()},
      output, 120s);
  ASSERT_EQ(status, 0) << output;
  unsigned count = 0, low = 0, high = 0, distinct = 0, repeats = 0;
  ASSERT_EQ(std::sscanf(output.c_str(), "%u %u %u %u %u", &count, &low, &high, &distinct, &repeats), 5)
      << output;
  EXPECT_EQ(count, 2000u);
  EXPECT_GE(low, first);
  EXPECT_LE(high, last);
  EXPECT_EQ(distinct, 10u);  // every port had its turn
  EXPECT_EQ(repeats, 0u);    // and never twice in a row
}

TEST_F(FtpPassiveTest, ThirdListenerOfAnAddressIsRefused) {
  std::vector<std::unique_ptr<ControlClient>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(Login());
  EXPECT_NE(PassivePort(clients[0]->Command("PASV")), 0);
  EXPECT_NE(PassivePort(clients[1]->Command("EPSV")), 0);
  EXPECT_EQ(clients[2]->Command("PASV"), "425 Too many passive connections from your address\r\n");
  // A session's new listener replaces its own earlier one, and a session that ends gives its listener up.
  EXPECT_NE(PassivePort(clients[1]->Command("PASV")), 0);
  EXPECT_EQ(clients[0]->Command("QUIT"), "221 Service closing control connection\r\n");
  EXPECT_TRUE(WaitUntil([&] { return PassivePort(clients[2]->Command("EPSV")) != 0; }));
}

TEST_F(FtpPassiveTest, PassiveOffKeepsTheRefusal) {
  SetSetting("FTP", "FPassive", "0");
  auto client = Login();
  EXPECT_EQ(client->Command("PASV"), "502 Command PASV not implemented\r\n");
  EXPECT_EQ(client->Command("EPSV"), "502 Command EPSV not implemented\r\n");
  EXPECT_EQ(client->Command("FEAT"), "211- Feature listing\r\n");
  EXPECT_EQ(client->Lines(13),
            (std::vector<std::string>{" AUTH TLS\r\n", " PBSZ\r\n", " PROT\r\n", " MDTM\r\n", " SIZE\r\n",
                                      " REST STREAM\r\n", " EPRT\r\n", " EPSV\r\n",
                                      " MLST type*;size*;modify*;perm*;unique*;\r\n", " UTF8\r\n",
                                      " MFMT\r\n", " HASH SHA-256*;SHA-1;MD5\r\n", "211 End\r\n"}));
}

TEST_F(FtpPassiveTest, ExtendedPort) {
  const std::string content = RandomBytes(3000, 7);
  WriteFile(Root() / "f.bin", content);
  auto client = Login();
  ASSERT_EQ(client->Command("TYPE I"), "200 Type set to I.\r\n");  // the bytes as they are
  DataListener data;
  const std::string port = std::to_string(data.Port());
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.1|" + port + "|"), "200 EPRT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "150 File status OK ; about to open data connection\r\n");
  auto connection = data.Accept();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->ReceiveAll(), content);
  EXPECT_EQ(client->Line(), "226 File transfer successful.\r\n");
  // The rules of PORT: only the client's own address, no privileged port.
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.2|" + port + "|"), "200 EPRT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.1|1023|"), "200 EPRT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "425 Can't open data connection\r\n");
  EXPECT_EQ(client->Command("EPRT |2|::1|" + port + "|"), "200 EPRT command successful.\r\n");
  EXPECT_EQ(client->Command("RETR f.bin"), "425 Can't open data connection\r\n");
  EXPECT_FALSE(data.Accept(200ms));
  EXPECT_EQ(client->Command("EPRT |3|127.0.0.1|" + port + "|"),
            "522 Network protocol not supported, use (1,2)\r\n");
  EXPECT_EQ(client->Command("EPRT 127.0.0.1"), "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.256|" + port + "|"), "501 Syntax error in parameters\r\n");
  EXPECT_EQ(client->Command("EPRT |1|127.0.0.1|65536|"), "501 Syntax error in parameters\r\n");
}

}  // namespace
}  // namespace hx::test
