#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app_context.h"
#include "app/blocking_pool.h"
#include "app/config_store.h"
#include "app/shared_file.h"
#include "app/text_size_cache.h"
#include "app/transfer_log.h"
#include "app/worker_registry.h"
#include "support/ftp_session/faulty_file_systems.h"
#include "support/ftp_session/tls_test_client.h"
#include "support/manual_clock.h"
#include "support/memory_stream.h"
#include "support/recording_frontend.h"
#include "support/temp_dir.h"
#include "tftp/block_pool.h"

namespace hx::test {

// Adds a profile to the password file of the program in `appDir`, its password stored as a hash: rights as
// eight '0'/'1' characters.
void AddUserProfile(const std::string& appDir, const std::string& name, const std::string& password,
                    const std::string& directory, const std::string& rights);
// The same with field 1 as given: a password file of an earlier version, or a broken one.
void AddStoredProfile(const std::string& appDir, const std::string& name, const std::string& stored,
                      const std::string& directory, const std::string& rights);

// The client's end of an FTP session that runs in the test's process over a MemoryStream: lines in, reply
// lines out, byte for byte.
class SessionClient {
 public:
  explicit SessionClient(std::shared_ptr<MemoryStream> stream) : m_stream(std::move(stream)) {}
  // The next reply line with its CR LF; empty when none comes within the timeout.
  std::string Line(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::vector<std::string> Lines(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Sends the line with CR LF and returns the first reply line.
  std::string Command(const std::string& line);
  void Send(const std::string& raw) { m_stream->Put(raw); }
  // True when no reply line arrives within the time.
  bool Silent(std::chrono::milliseconds time = std::chrono::milliseconds(100));
  bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // The client's orderly close.
  void Close() { m_stream->EndInput(); }

 private:
  std::shared_ptr<MemoryStream> m_stream;
};

// FTP sessions inside the test's process, on the manual clock and on file systems that fail where the test
// says, with the program directory and the FTP root ("root") in a temporary folder: anonymous logins
// allowed, FDataPort 0, Quorin 0, and no idle limit unless a test sets one (so that the timers a test counts
// are the ones it is about). A session's client is 127.0.0.1, so that its data connections can be real ones
// on the loopback.
class FtpSessionTest : public ::testing::Test {
 protected:
  FtpSessionTest();
  ~FtpSessionTest() override;

  // Settings as "Section/Key=value" entries, on top of the defaults.
  void StartServer(const std::vector<std::string>& extraIni = {});
  // A session that has sent its banner, of a client at `peer`.
  std::unique_ptr<SessionClient> Connect(const std::string& peer = "127.0.0.1");
  // A session logged in (anonymous unless told), with its 230 read.
  std::unique_ptr<SessionClient> Login(const std::string& user = "anonymous",
                                       const std::string& password = "me@");
  // TLS from a certificate made in the program directory, for the sessions from now on.
  void EnableTls();
  // A session over a real loopback connection (TLS needs one), from the implicit TLS port when told; returns
  // the client's socket, blocking, whose reads give up after 5 s. Nothing has been read from it.
  int ConnectSocket(bool implicitTls = false);
  std::filesystem::path Root() const { return m_dir.Path() / "root"; }
  std::string RootDir() const { return Root().string() + "/"; }
  // Changes a setting; sessions read settings where they use them.
  void SetSetting(const std::string& section, const std::string& key, const std::string& value);
  void SetSetting(const std::string& section, const std::string& key, int value);
  // Adds a profile to the password file: rights as eight '0'/'1' characters.
  void AddUser(const std::string& name, const std::string& password, const std::string& directory,
               const std::string& rights);
  // The transfer-log entries so far, without their time stamps.
  std::vector<std::string> LogEntries() const;
  // Waits until the entries hold `expected` as a contiguous run, in order.
  bool WaitForLogRun(const std::vector<std::string>& expected,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  bool WaitForLog(const std::string& entry,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
    return WaitForLogRun({entry}, timeout);
  }
  // Moves the clock once the sessions have armed at least `waits` timers between them.
  void Advance(std::chrono::steady_clock::duration step, size_t waits = 1);
  // Sends a line whose reply comes after a pause (a refused PASS): nothing comes until the clock has moved
  // by `pause`; then the reply.
  std::string CommandAfterPause(SessionClient& client, const std::string& line,
                                std::chrono::steady_clock::duration pause = std::chrono::seconds(1));

  TempDir m_dir;
  RecordingFrontend m_frontend;
  ConfigStore m_config;
  ManualClock m_clock;
  FaultyFileSystems m_files;              // the program's own, with the faults a test names
  WorkerRegistry m_registry{m_frontend};  // after everything its workers use, so that it is destroyed first
  TransferLog m_log;
  FileShareTable m_shares;
  BlockingPool m_blocking;  // after the registry, so that it is stopped first
  BlockingPool m_passwordChecks;
  TextSizeCache m_textSizes;
  tftp::BlockPool m_blocks;
  AppContext m_context;
};

}  // namespace hx::test
