// The FTP client worker in this process, started as the window starts it: its row, its message boxes, its log
// lines, and the stop request that ends it in any phase.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/clock.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/session_table.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_start.h"
#include "ftp/client/ftp_client_worker.h"
#include "integration/clients/ftp_client_peers.h"
#include "support/harbinex_process.h"
#include "support/manual_clock.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/block_pool.h"

namespace hx::ftpc {
namespace {

class FtpClientSessionTest : public ::testing::Test {
 protected:
  // OpenSSL writes to the socket with write(2): the process ignores SIGPIPE, as the program does.
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
  FtpClientJob Job(std::uint16_t port, bool put, const std::string& local) {
    FtpClientJob job;
    job.put = put;
    job.host = "127.0.0.1";
    job.port = port;
    job.user = "anonymous";
    job.password = "secret";
    job.remoteName = "remote.bin";
    job.localName = (dir.Path() / local).string();
    return job;
  }
  bool WaitFinished(const FtpClientWorker& worker,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return test::WaitUntil([&] { return worker.Finished(); }, timeout);
  }
  std::string Cell(const FtpClientWorker& worker, int column) {
    return registry.CellText(worker.m_nSessionId, column);
  }

  // Moves only when a test moves it; it outlives the sessions, whose timers are its own.
  test::ManualClock clock;
  test::TempDir dir;
  test::RecordingFrontend frontend;
  ConfigStore config{dir.Path() / "Harbinex.ini"};
  FileShareTable shares;
  TransferLog log{dir.Path(), config, frontend};
  LocalFileSystems files;
  WorkerRegistry registry{frontend};
  BlockingPool blocking;  // after the registry, so that it is stopped first
  TextSizeCache textSizes;
  tftp::BlockPool blocks;
  AppContext app{dir.Dir(), config,    registry, log,   frontend, shares,
                 blocking,  textSizes, blocks,   clock, files};
};

std::string LogIn(test::FakeControl& c) {
  c.Send("220 Ready\r\n");
  c.ReadLine();
  c.Send("331 Password please\r\n");
  c.ReadLine();
  c.Send("230 In\r\n");
  c.ReadLine();
  c.Send("200 Binary\r\n");
  auto port = c.ReadLine();
  c.Send("200 PORT ok\r\n");
  return port.value_or("");
}

TEST_F(FtpClientSessionTest, RowOfASuccessfulPut) {
  ASSERT_TRUE(log.EnableLogging());
  ASSERT_TRUE(log.EnableDebugging(3));
  test::WriteFile(dir.Path() / "up.bin", std::string(30720, 'x'));
  std::string received;
  std::vector<std::string> wire;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    std::string portLine = LogIn(c);
    c.ReadLine();  // STOR
    int data = test::FakeControl::ConnectToPort(portLine);
    c.Send("150 Go ahead\r\n");
    received = test::ReadAll(data);
    ::close(data);
    c.Send("226 Stored\r\n");
    c.ReadLine();
    c.Send("221 Bye now\r\n");
    wire = c.lines;
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), true, "up.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker));
  ASSERT_TRUE(server.Join());
  EXPECT_TRUE(worker->Succeeded());
  EXPECT_EQ(received, std::string(30720, 'x'));
  EXPECT_EQ(Cell(*worker, kColType), "Ftp Client");
  EXPECT_EQ(Cell(*worker, kColPeer), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(Cell(*worker, kColFile), "remote.bin");
  EXPECT_EQ(Cell(*worker, kColPath), (dir.Path() / "up.bin").string());
  EXPECT_EQ(Cell(*worker, kColBytes), "30720");
  EXPECT_EQ(Cell(*worker, kColCommand), "QUIT");
  EXPECT_EQ(Cell(*worker, kColStatus), "221 Bye now");
  EXPECT_FALSE(Cell(*worker, kColStartTime).empty());
  {
    std::vector<std::string> commands = frontend.CellTexts(kColCommand);
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[0], "USER anonymous");
    // The password goes to the server only: the row shows it masked.
    EXPECT_EQ(commands[1], "PASS ****");
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(wire[1], "PASS secret");
    EXPECT_EQ(commands[2], "TYPE I");
    EXPECT_EQ(commands[3].rfind("PORT 127,0,0,1,", 0), 0u);
    EXPECT_EQ(commands[4], "STOR remote.bin");
    EXPECT_EQ(commands[5], "QUIT");
    EXPECT_TRUE(frontend.Messages().empty());
  }
  EXPECT_NE(test::ReadFile(log.LogPath())
                .find("File " + (dir.Path() / "up.bin").string() + " Bytes transferred: 30720"),
            std::string::npos);
  const std::string trace = test::ReadFile(log.DebugPath());
  EXPECT_NE(trace.find("Sent 10240 bytes"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("secret"), std::string::npos) << trace;
  // The file was released when the session ended: another exclusive open succeeds.
  int error = 0;
  SharedFile again = SharedFile::Open(shares, dir.Path() / "up.bin", FileAccess::Write, ShareMode::Exclusive,
                                      Disposition::OpenExisting, error);
  EXPECT_TRUE(again.IsOpen()) << error;
}

TEST_F(FtpClientSessionTest, RefusedReplyGoesToAMessageBoxAndTheRow) {
  test::FakeFtpServer server([&](test::FakeControl& c) {
    LogIn(c);
    c.ReadLine();  // RETR
    c.Send("550 remote.bin: No such file\r\n");
    c.ClientCloses();
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "down.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker));
  EXPECT_FALSE(worker->Succeeded());
  EXPECT_EQ(Cell(*worker, kColStatus), "550 remote.bin: No such file");
  EXPECT_EQ(Cell(*worker, kColCommand), "RETR remote.bin");
  EXPECT_EQ(frontend.Messages(), (std::vector<std::string>{"550 remote.bin: No such file"}));
}

TEST_F(FtpClientSessionTest, StopRequestEndsASessionThatWaitsOnTheServer) {
  // A server that greets and then says nothing more: the session waits for the reply to USER.
  test::FakeFtpServer server([&](test::FakeControl& c) {
    c.Send("220 Ready\r\n");
    c.ReadLine();
    c.ClientCloses(std::chrono::seconds(15));
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "wait.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return Cell(*worker, kColCommand) == "USER anonymous"; }));
  const int id = worker->m_nSessionId;
  // Every worker ended on the stop request within the 25 looks (none abandoned), and was destroyed with it;
  // the session's clock does not move, so no limit of its own ended it.
  EXPECT_EQ(registry.StopAllWorkers(std::chrono::milliseconds(50), 25), 0u);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Ftp), 0u);
  ASSERT_TRUE(server.Join());
  // The row stays with what it showed when the stop came.
  EXPECT_EQ(registry.CellText(id, kColStatus), "220 Ready");
}

TEST_F(FtpClientSessionTest, StopRequestDuringADownloadReleasesTheFile) {
  std::atomic<bool> closedByClient{false};
  test::FakeFtpServer server([&](test::FakeControl& c) {
    std::string portLine = LogIn(c);
    c.ReadLine();
    int data = test::FakeControl::ConnectToPort(portLine);
    c.Send("150 Sending\r\n");
    test::WriteAll(data, std::string(100000, 'd'));
    // Keep the data connection open without sending more: the client is mid-transfer.
    closedByClient = c.ClientCloses(std::chrono::seconds(15));
    ::close(data);
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "partial.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return Cell(*worker, kColBytes) == "100000"; }));
  EXPECT_EQ(registry.StopAllWorkers(std::chrono::milliseconds(50), 25), 0u);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Ftp), 0u);
  ASSERT_TRUE(server.Join());
  EXPECT_TRUE(closedByClient);
  // An unfinished download leaves no file behind.
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "partial.bin"));
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find("partial"), std::string::npos) << entry.path();
}

TEST_F(FtpClientSessionTest, ReplyThatNeverEndsEndsTheSessionAfterSixtySeconds) {
  // A greeting that goes on with a line every half second on the session's clock, for up to 400 lines. The
  // clock moves once the session has shown a line and waits for the next, or has given up on the reply.
  const std::string tooLong = "Reply too long";
  int sent = 0;
  bool clientClosed = false;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    const int id = registry.LastSessionId();
    for (sent = 0; sent < 400 && !clientClosed; ++sent) {
      const std::string line = "220-line " + std::to_string(sent);
      c.Send(line + "\r\n");
      test::WaitUntil([&] {
        std::string status = registry.CellText(id, kColStatus);
        return (status == line && clock.PendingWaits() == 1) || status == tooLong;
      });
      clock.Advance(std::chrono::milliseconds(500));
      clientClosed = registry.CellText(id, kColStatus) == tooLong && c.ClientCloses();
    }
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "never.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker));
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(Cell(*worker, kColStatus), tooLong);
  EXPECT_FALSE(worker->Succeeded());
  // Sixty seconds are 120 lines; the session ended there (at the 120th line, or at the one sent while it
  // was ending), not at the end of the script.
  EXPECT_TRUE(clientClosed);
  EXPECT_GE(sent, 120);
  EXPECT_LE(sent, 121);
  EXPECT_TRUE(frontend.CellTexts(kColCommand).empty()) << "no command after a greeting that never ended";
}

TEST_F(FtpClientSessionTest, ServerThatNeverAnswersTimesOutAfterSixtySeconds) {
  std::optional<std::string> command;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    // Accept and stay silent: no greeting at all.
    command = c.ReadLine(std::chrono::seconds(20));
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "silent.bin"));
  ASSERT_NE(worker, nullptr);
  // The session waits for the greeting: a second short of the limit it still does, at the limit it ends.
  ASSERT_TRUE(clock.WaitForPendingWaits(1));
  clock.Advance(std::chrono::seconds(59));
  EXPECT_EQ(clock.PendingWaits(), 1u);
  EXPECT_FALSE(worker->Finished());
  clock.Advance(std::chrono::seconds(1));
  ASSERT_TRUE(WaitFinished(*worker));
  EXPECT_EQ(Cell(*worker, kColStatus), "Error reading from socket: Connection timed out");
  EXPECT_FALSE(worker->Succeeded());
  ASSERT_TRUE(server.Join());
  EXPECT_FALSE(command) << "no command, no QUIT, after a server that never greeted";
}

TEST_F(FtpClientSessionTest, ReplyOfTenThousandLinesIsTooLong) {
  bool clientClosed = false;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    std::string lines;
    for (int i = 0; i < 10000; ++i) lines += "220-line " + std::to_string(i) + "\r\n";
    c.Send(lines);
    clientClosed = c.ClientCloses();
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "many.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker));
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(Cell(*worker, kColStatus), "Reply too long");
  EXPECT_TRUE(clientClosed);
}

TEST_F(FtpClientSessionTest, TlsComesBeforeTheUserName) {
  // The server refuses AUTH TLS, or says yes and then speaks no TLS: either way the user's name and password
  // never go out in clear text.
  struct Case {
    const char* reply;
    const char* status;  // what the Status begins with
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"502 AUTH not understood\r\n", "502 AUTH not understood", {"502 AUTH not understood"}},
      {"234 Proceed\r\nThis is no TLS record\r\n", "TLS handshake failed: ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    std::vector<std::string> wire;
    test::FakeFtpServer server([&](test::FakeControl& control) {
      control.Send("220 Ready\r\n");
      control.ReadLine();
      control.Send(c.reply);
      control.ClientCloses();
      wire = control.lines;
    });
    FtpClientJob job = Job(server.Port(), false, "tls.bin");
    job.tls = FtpClientJob::Tls::Explicit;
    const size_t earlier = frontend.Messages().size();
    FtpClientWorker* worker = StartFtpClient(app, job);
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(WaitFinished(*worker));
    ASSERT_TRUE(server.Join());
    EXPECT_FALSE(worker->Succeeded());
    EXPECT_EQ(Cell(*worker, kColType), "Ftps Cli");
    EXPECT_EQ(Cell(*worker, kColStatus).rfind(c.status, 0), 0u) << Cell(*worker, kColStatus);
    EXPECT_EQ(wire, std::vector<std::string>{"AUTH TLS"});
    const std::vector<std::string> messages = frontend.Messages();
    EXPECT_EQ(std::vector<std::string>(messages.begin() + static_cast<long>(earlier), messages.end()),
              c.messages);
  }
}

TEST_F(FtpClientSessionTest, HandshakeThatNeverEndsTimesOutAfterSixtySeconds) {
  std::atomic<bool> helloCame{false};
  bool clientClosed = false;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    c.Send("220 Ready\r\n");
    c.ReadLine();
    c.Send("234 Proceed\r\n");
    // The client's hello arrives and is never answered; the script takes its bytes until the client closes.
    helloCame = !c.ClientCloses();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!clientClosed && std::chrono::steady_clock::now() < deadline)
      clientClosed = c.ClientCloses(std::chrono::seconds(1));
  });
  FtpClientJob job = Job(server.Port(), false, "hello.bin");
  job.tls = FtpClientJob::Tls::Explicit;
  FtpClientWorker* worker = StartFtpClient(app, job);
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return helloCame && clock.PendingWaits() == 1; }))
      << Cell(*worker, kColStatus);
  clock.Advance(std::chrono::seconds(59));
  EXPECT_FALSE(worker->Finished());
  clock.Advance(std::chrono::seconds(1));
  ASSERT_TRUE(WaitFinished(*worker));
  EXPECT_EQ(Cell(*worker, kColStatus), "TLS handshake failed: Connection timed out");
  ASSERT_TRUE(server.Join());
  EXPECT_TRUE(clientClosed);
}

TEST_F(FtpClientSessionTest, FileInUseBySessionIsRefused) {
  // Another session holds the local file exclusively: the client may not open it.
  test::WriteFile(dir.Path() / "busy.bin", "busy");
  int error = 0;
  SharedFile held = SharedFile::Open(shares, dir.Path() / "busy.bin", FileAccess::Read, ShareMode::Exclusive,
                                     Disposition::OpenExisting, error);
  ASSERT_TRUE(held.IsOpen());
  test::FakeFtpServer server([&](test::FakeControl& c) { c.Send("220 Ready\r\n"); });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "busy.bin"));
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker));
  EXPECT_EQ(Cell(*worker, kColStatus), "Unable to open local file");
  EXPECT_EQ(test::ReadFile(dir.Path() / "busy.bin"), "busy");
  EXPECT_FALSE(server.Accepted());
}

}  // namespace
}  // namespace hx::ftpc
