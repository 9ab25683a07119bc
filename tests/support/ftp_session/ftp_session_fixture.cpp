#include "support/ftp_session/ftp_session_fixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "app/config_keys.h"
#include "ftp/server/ftp_worker.h"
#include "tls/server_tls.h"
#include "users/password_file.h"
#include "users/password_hash.h"
#include "users/user_profile.h"

namespace hx::test {

void AddUserProfile(const std::string& appDir, const std::string& name, const std::string& password,
                    const std::string& directory, const std::string& rights) {
  std::optional<std::string> hash = HashPassword(password);
  ASSERT_TRUE(hash.has_value()) << password;
  AddStoredProfile(appDir, name, *hash, directory, rights);
}

void AddStoredProfile(const std::string& appDir, const std::string& name, const std::string& stored,
                      const std::string& directory, const std::string& rights) {
  RecordingFrontend frontend;
  PasswordFile store(appDir, frontend);
  UserProfile profile;
  profile.name = name;
  profile.password = stored;
  profile.directory = directory;
  for (int i = 0; i < kRightCount; ++i)
    profile.rights[static_cast<size_t>(i)] = rights[static_cast<size_t>(i)] == '1';
  store.Add(FormatUserProfile(profile));
  EXPECT_EQ(frontend.Messages(), std::vector<std::string>{});
}

std::string SessionClient::Line(std::chrono::milliseconds timeout) {
  return m_stream->TakeLine(timeout);
}

std::vector<std::string> SessionClient::Lines(size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back(Line(timeout));
  return lines;
}

std::string SessionClient::Command(const std::string& line) {
  Send(line + "\r\n");
  return Line();
}

bool SessionClient::Silent(std::chrono::milliseconds time) {
  return m_stream->TakeLine(time).empty();
}

bool SessionClient::WaitClosed(std::chrono::milliseconds timeout) {
  return m_stream->WaitClosed(timeout);
}

FtpSessionTest::FtpSessionTest()
    : m_config(m_dir.Path() / "Harbinex.ini"),
      m_log(m_dir.Path(), m_config, m_frontend),
      m_context{m_dir.Dir(), m_config,    m_registry, m_log,   m_frontend, m_shares,
                m_blocking,  m_textSizes, m_blocks,   m_clock, m_files} {
  m_context.passwordChecks = &m_passwordChecks;
  std::filesystem::create_directories(Root());
  SetSetting(cfg::kGeneral, cfg::kQuorin.key, 0);
  SetSetting(cfg::kFtp, cfg::kFDataPort.key, 0);
  SetSetting(cfg::kFtp, cfg::kAnonAllowed.key, 1);
  SetSetting(cfg::kFtp, cfg::kFDLDir.key, RootDir());
  SetSetting(cfg::kFtp, cfg::kFIdleTimeout.key, 0);
}

void FtpSessionTest::StartServer(const std::vector<std::string>& extraIni) {
  for (const std::string& entry : extraIni) {
    size_t slash = entry.find('/');
    size_t equals = entry.find('=');
    ASSERT_TRUE(slash < equals && equals != std::string::npos) << entry;
    SetSetting(entry.substr(0, slash), entry.substr(slash + 1, equals - slash - 1), entry.substr(equals + 1));
  }
}

namespace {

// The entries without their time stamps.
std::vector<std::string> EntryTexts(const std::vector<RecordingFrontend::LoggedLine>& lines) {
  std::vector<std::string> entries;
  for (const RecordingFrontend::LoggedLine& logged : lines) {
    // "December 07, 2026 21:01:11 TEXT": the text follows the fourth blank.
    size_t at = std::string::npos;
    for (int i = 0; i < 4 && (i == 0 || at != std::string::npos); ++i) at = logged.line.find(' ', at + 1);
    std::string text = at == std::string::npos ? logged.line : logged.line.substr(at + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    entries.push_back(text);
  }
  return entries;
}

}  // namespace

std::vector<std::string> FtpSessionTest::LogEntries() const {
  return EntryTexts(m_frontend.LogEntries());
}

bool FtpSessionTest::WaitForLogRun(const std::vector<std::string>& expected,
                                   std::chrono::milliseconds timeout) const {
  return m_frontend.WaitForLog(
      [&](const std::vector<RecordingFrontend::LoggedLine>& logged) {
        std::vector<std::string> entries = EntryTexts(logged);
        return std::search(entries.begin(), entries.end(), expected.begin(), expected.end()) != entries.end();
      },
      timeout);
}

FtpSessionTest::~FtpSessionTest() {
  m_registry.StopAllWorkers(std::chrono::milliseconds(10), 500);
  m_log.Close();
}

std::unique_ptr<SessionClient> FtpSessionTest::Connect(const std::string& peer) {
  auto worker = std::make_unique<ftpd::FtpWorker>(m_context);
  auto stream = std::make_shared<MemoryStream>(worker->Executor());
  StreamEnds ends{.local = {asio::ip::make_address("127.0.0.1"), 21},
                  .peer = asio::ip::tcp::endpoint(asio::ip::make_address(peer), 50000)};
  worker->Adopt(stream->ProgramEnd(), ends);
  EXPECT_NE(m_registry.StartWorker(WorkerKind::Ftp, std::move(worker)), nullptr);
  auto client = std::make_unique<SessionClient>(stream);
  EXPECT_EQ(client->Line(), "220 Vantrel FTP Server Version 1.1\r\n");
  return client;
}

void FtpSessionTest::EnableTls() {
  auto tls = std::make_shared<tls::ServerTls>();
  tls->Load(m_config, m_dir.Dir());
  ASSERT_NE(tls->Context(), nullptr) << tls->Problem();
  m_context.ftpTls = tls;
}

int FtpSessionTest::ConnectSocket(bool implicitTls) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(::listen(listener, 1), 0);
  EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), length), 0);
  int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  timeval limit{.tv_sec = 5, .tv_usec = 0};
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  auto worker = std::make_unique<ftpd::FtpWorker>(m_context);
  EXPECT_TRUE(worker->Adopt(server, implicitTls));
  EXPECT_NE(m_registry.StartWorker(WorkerKind::Ftp, std::move(worker)), nullptr);
  return client;
}

std::unique_ptr<SessionClient> FtpSessionTest::Login(const std::string& user, const std::string& password) {
  auto client = Connect();
  EXPECT_EQ(client->Command("USER " + user), "331 User name ok, need password\r\n");
  EXPECT_EQ(client->Command("PASS " + password), "230 User logged in\r\n");
  return client;
}

void FtpSessionTest::SetSetting(const std::string& section, const std::string& key,
                                const std::string& value) {
  m_config.WriteProfileString(section, key, value);
}

void FtpSessionTest::SetSetting(const std::string& section, const std::string& key, int value) {
  m_config.WriteProfileInt(section, key, value);
}

void FtpSessionTest::AddUser(const std::string& name, const std::string& password,
                             const std::string& directory, const std::string& rights) {
  AddUserProfile(m_dir.Dir(), name, password, directory, rights);
}

void FtpSessionTest::Advance(std::chrono::steady_clock::duration step, size_t waits) {
  EXPECT_TRUE(m_clock.WaitForPendingWaits(waits));
  m_clock.Advance(step);
}

std::string FtpSessionTest::CommandAfterPause(SessionClient& client, const std::string& line,
                                              std::chrono::steady_clock::duration pause) {
  client.Send(line + "\r\n");
  EXPECT_TRUE(client.Silent(std::chrono::milliseconds(20))) << line;
  Advance(pause);
  return client.Line();
}

}  // namespace hx::test
