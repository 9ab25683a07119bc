#include "support/ftp_session/ftp_session_fixture.h"

#include "app/config_keys.h"
#include "ftp/server/ftp_worker.h"
#include "users/password_codec.h"
#include "users/password_file.h"
#include "users/user_profile.h"

namespace hx::test {

std::string SessionClient::Line(std::chrono::milliseconds timeout) {
  return m_stream->TakeLine(timeout);
}

std::vector<std::string> SessionClient::Lines(size_t count) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back(Line());
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
      m_context{m_dir.Dir(), m_config,   m_registry,  m_log,    m_frontend,
                m_shares,    m_blocking, m_textSizes, m_blocks, m_clock, m_files} {
  std::filesystem::create_directories(Root());
  SetSetting(cfg::kGeneral, cfg::kQuorin.key, 0);
  SetSetting(cfg::kFtp, cfg::kFDataPort.key, 0);
  SetSetting(cfg::kFtp, cfg::kAnonAllowed.key, 1);
  SetSetting(cfg::kFtp, cfg::kFDLDir.key, RootDir());
}

FtpSessionTest::~FtpSessionTest() {
  m_registry.StopAllWorkers(std::chrono::milliseconds(10), 500);
  m_log.Close();
}

std::unique_ptr<SessionClient> FtpSessionTest::Connect() {
  auto worker = std::make_unique<ftpd::FtpWorker>(m_context);
  auto stream = std::make_shared<MemoryStream>(worker->Executor());
  StreamEnds ends{.local = {asio::ip::make_address("127.0.0.1"), 21},
                  .peer = asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 50000)};
  worker->Adopt(stream->ProgramEnd(), ends);
  EXPECT_NE(m_registry.StartWorker(WorkerKind::Ftp, std::move(worker)), nullptr);
  auto client = std::make_unique<SessionClient>(stream);
  EXPECT_EQ(client->Line(), "220 Vantrel FTP Server Version 1.1\r\n");
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
  RecordingFrontend frontend;
  PasswordFile store(m_dir.Dir(), frontend);
  UserProfile profile;
  profile.name = name;
  profile.password = EncodePassword(password);
  profile.directory = directory;
  for (int i = 0; i < kRightCount; ++i)
    profile.rights[static_cast<size_t>(i)] = rights[static_cast<size_t>(i)] == '1';
  store.Add(FormatUserProfile(profile));
  EXPECT_EQ(frontend.Messages(), std::vector<std::string>{});
}

void FtpSessionTest::Advance(std::chrono::steady_clock::duration step, size_t waits) {
  EXPECT_TRUE(m_clock.WaitForPendingWaits(waits));
  m_clock.Advance(step);
}

}  // namespace hx::test
