// The FTP client worker in this process, started as the window starts it: its row, its message boxes, its log
// lines, and the stop request that ends it in any phase.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
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
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/block_pool.h"

namespace hx::ftpc {
namespace {

class FtpClientSessionTest : public ::testing::Test {
 protected:
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
  SteadyClock clock;
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
  EXPECT_EQ(Cell(*worker, kColPeer), "127.0.0.1");
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
  auto started = std::chrono::steady_clock::now();
  // Every worker ended on a stop request (none abandoned), and was destroyed with it.
  EXPECT_EQ(registry.StopAllWorkers(std::chrono::milliseconds(50), 25), 0u);
  EXPECT_EQ(registry.WorkerCount(WorkerKind::Ftp), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
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

// A clock that stands still unless the test moves it.
class TestClock {
 public:
  std::chrono::steady_clock::time_point Now() const {
    return m_start + std::chrono::milliseconds(m_offsetMs.load());
  }
  void Advance(std::chrono::milliseconds step) { m_offsetMs += step.count(); }
  SessionClock Function() {
    return [this] { return Now(); };
  }

 private:
  const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::atomic<long long> m_offsetMs{0};
};

TEST_F(FtpClientSessionTest, ReplyThatNeverEndsEndsTheSessionAfterSixtySeconds) {
  // A greeting that goes on with a line every half second on the session's clock, for up to 400 lines.
  TestClock clock;
  int sent = 0;
  bool clientClosed = false;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    for (sent = 0; sent < 400 && !clientClosed; ++sent) {
      c.Send("220-and one more line\r\n");
      clock.Advance(std::chrono::milliseconds(500));
      clientClosed = c.ClientCloses(std::chrono::milliseconds(20));
    }
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "never.bin"), clock.Function());
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(WaitFinished(*worker, std::chrono::seconds(60)));
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(Cell(*worker, kColStatus), "Reply too long");
  EXPECT_FALSE(worker->Succeeded());
  // Sixty seconds are 120 lines; the session ended there, not at the end of the script.
  EXPECT_TRUE(clientClosed);
  EXPECT_GE(sent, 120);
  EXPECT_LT(sent, 400);
  EXPECT_TRUE(frontend.CellTexts(kColCommand).empty()) << "no command after a greeting that never ended";
}

TEST_F(FtpClientSessionTest, ServerThatNeverAnswersTimesOutAfterSixtySeconds) {
  TestClock clock;
  std::optional<std::string> command;
  test::FakeFtpServer server([&](test::FakeControl& c) {
    // Accept and stay silent: no greeting at all.
    command = c.ReadLine(std::chrono::seconds(20));
  });
  FtpClientWorker* worker = StartFtpClient(app, Job(server.Port(), false, "silent.bin"), clock.Function());
  ASSERT_NE(worker, nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return server.Accepted(); }));
  // The session's clock moves a second at a time while the session waits for the greeting.
  int seconds = 0;
  while (seconds < 120 && !WaitFinished(*worker, std::chrono::milliseconds(20))) {
    clock.Advance(std::chrono::seconds(1));
    ++seconds;
  }
  ASSERT_TRUE(worker->Finished()) << "still waiting after " << seconds << " s";
  EXPECT_GE(seconds, 60);
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
