#include "app/server_app.h"

#include "app/config_keys.h"
#include "app/frontend.h"
#include "app/private_directory.h"

#include <filesystem>
#include <variant>

namespace hx {
namespace {

// No stored value holds a line break: the text stands for a key that is not there.
constexpr const char* kNoStoredText = "\n";

const ServerApp::ServiceKeys kTftpKeys{"TFTP", cfg::kSourceTftp, cfg::kTftpServer, cfg::kTPort,
                                       cfg::kTLastStartFailed};
const ServerApp::ServiceKeys kFtpKeys{"FTP", cfg::kSourceFtp, cfg::kFtpServer, cfg::kFPort,
                                      cfg::kFLastStartFailed};

std::string WithTrailingSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

ServerApp::ServerApp(std::filesystem::path appDir, Frontend& frontend, Services services, Mode mode,
                     Clock* clock)
    : m_strAppDir(WithTrailingSlash(appDir.string())),
      m_frontend(frontend),
      m_services(std::move(services)),
      m_mode(mode),
      m_config(m_strAppDir + "Harbinex.ini"),
      m_registry(frontend),
      m_log(m_strAppDir, m_config, frontend),
      m_context{m_strAppDir, m_config,   m_registry,  m_log,    frontend,
                m_shares,    m_blocking, m_textSizes, m_blocks, clock ? *clock : m_steadyClock,
                m_files} {
  m_context.ftpTls = m_services.ftpTls;
  m_context.passwordChecks = &m_passwordChecks;
  m_registry.SetFailureLog([this](WorkerKind kind, const std::string& line) {
    m_log.OnLogLine(kind == WorkerKind::Tftp ? cfg::kSourceTftp : cfg::kSourceFtp, line);
  });
}

ServerApp::~ServerApp() {
  std::lock_guard guard(m_serviceLock);
  m_network.RunSync([this] {
    m_pTftpListener.reset();
    m_pFtpListener.reset();
  });
}

bool ServerApp::StartSetting(const cfg::IntSetting& setting) {
  // Reading first keeps a present value (rewritten in plain decimal, text that is no number as 0).
  int value = setting.start == cfg::kReset
                  ? setting.first
                  : m_config.GetProfileInt(setting.section, setting.key, setting.first);
  cfg::Write(m_config, setting, value);
  return true;
}

bool ServerApp::StartSetting(const cfg::TextSetting& setting) {
  if (setting.start != cfg::kTransferDir) {
    // Written back whole: a cut would turn a long address list into another list.
    cfg::Write(m_config, setting,
               m_config.GetWholeProfileString(setting.section, setting.key, setting.first));
    return true;
  }
  // A missing key gets the private folder; a key that names a private folder gets it made again when it
  // is missing (or the next free one, while another user holds its name); any other folder stays as it is.
  std::string stored = cfg::ReadOr(m_config, setting, kNoStoredText);
  bool missing = stored == kNoStoredText;
  if (!missing && !IsPrivateFolder(stored)) {
    cfg::Write(m_config, setting, stored);
    return true;
  }
  std::optional<PrivateFolder> folder = SettlePrivateFolder(missing ? DefaultPrivateFolder() : stored);
  if (!folder) {
    m_frontend.MessageBox("Failed getting Download Directory!");
    return false;
  }
  // Said once, though both directories start with the same folder.
  if (!folder->taken.empty() && folder->taken != m_takenFolderNoticed) {
    m_takenFolderNoticed = folder->taken;
    m_frontend.MessageBox("The folder " + folder->taken +
                          " is held by another user or open to others; transfers use " + folder->path +
                          " instead.");
  }
  cfg::Write(m_config, setting, missing || !folder->taken.empty() ? folder->path : stored);
  return true;
}

bool ServerApp::InitInstance() {
  // Before the services start, so that not one request meets the window's defaults.
  std::error_code error;
  bool fileMissing = !std::filesystem::exists(m_config.Path(), error) && !error;
  if (m_mode == Mode::Headless && fileMissing) {
    for (const cfg::HeadlessFirstStart& safe : cfg::kHeadlessFirstStart)
      cfg::Write(m_config, *safe.setting, safe.value);
    m_safeFirstStart = true;
  }
  // The main window's part: the version row, the log, debugging off, and the services the settings want.
  m_registry.InsertVersionRow(kVersionText);
  m_log.Start();
  ReportPortTakenAtLastStart(kTftpKeys);
  ReportPortTakenAtLastStart(kFtpKeys);
  SetTftpService(cfg::Read(m_config, cfg::kTftpServer) == 1);
  SetFtpService(cfg::Read(m_config, cfg::kFtpServer) == 1);

  // Every key of General, TFTP and FTP is in the file after a start; a failure stops the walk, and what was
  // written so far stays.
  for (const cfg::AnySetting& entry : cfg::kSettings) {
    bool ok = std::visit(
        [this](const auto* setting) { return setting->start == cfg::kNone || StartSetting(*setting); },
        entry);
    if (!ok) return false;
  }
  return true;
}

int ServerApp::ExitInstance() {
  // The listeners go first, so that no new session starts while the running ones are asked to stop.
  {
    std::lock_guard guard(m_serviceLock);
    m_network.RunSync([this] {
      m_pTftpListener.reset();
      m_pFtpListener.reset();
    });
  }
  m_abandoned = m_registry.StopAllWorkers();
  // After the sessions: what they still wait for is dropped, and running work ends with its stopped session.
  m_blocking.Stop();
  m_passwordChecks.Stop();
  m_log.Close();
  return 0;
}

bool ServerApp::SetService(std::unique_ptr<Listener>& slot, const ListenerFactory& factory,
                           const ServiceKeys& keys, bool on) {
  std::lock_guard guard(m_serviceLock);
  bool portTaken = false;
  bool result = m_network.RunSync([&] {
    if (!on) {
      slot.reset();
      return false;
    }
    if (slot) return true;
    if (!factory) return false;
    std::unique_ptr<Listener> listener = factory(m_context, m_network.Context());
    if (!listener) return false;
    if (!listener->Open()) {
      portTaken = listener->PortTaken();
      return false;
    }
    slot = std::move(listener);
    return true;
  });
  if (result == on || m_mode == Mode::Window) cfg::Write(m_config, keys.on, result ? 1 : 0);
  if (result && cfg::Read(m_config, keys.lastStartFailed) != 0) cfg::Write(m_config, keys.lastStartFailed, 0);
  if (portTaken && m_mode == Mode::Window)
    cfg::Write(m_config, keys.lastStartFailed, cfg::Read(m_config, keys.port));
  return result;
}

void ServerApp::ReportPortTakenAtLastStart(const ServiceKeys& keys) {
  int port = cfg::Read(m_config, keys.lastStartFailed);
  if (m_mode != Mode::Window || port == 0 || cfg::Read(m_config, keys.on) == 1) return;
  std::string text = std::string(keys.name) + " is off: port " + std::to_string(port) +
                     " was in use at the last start; turn it on in Server Control";
  m_frontend.MessageBox(text);
  m_log.OnLogLine(keys.source, text);
}

bool ServerApp::SetTftpService(bool on) {
  return SetService(m_pTftpListener, m_services.tftp, kTftpKeys, on);
}

bool ServerApp::SetFtpService(bool on) {
  return SetService(m_pFtpListener, m_services.ftp, kFtpKeys, on);
}

std::string SafeFirstStartLine(const std::string& iniPath) {
  std::string off;
  std::string keys;
  const size_t count = std::size(cfg::kHeadlessFirstStart);
  for (size_t i = 0; i < count; ++i) {
    const cfg::HeadlessFirstStart& safe = cfg::kHeadlessFirstStart[i];
    const char* joint = i == 0 ? "" : i + 1 == count ? " and " : ", ";
    off += joint + std::string(safe.what);
    keys += (i == 0 ? "" : ", ") + std::string(safe.setting->section) + "/" + safe.setting->key + "=1";
  }
  return "First start without a window: " + off + " are off; " + keys + " in " + iniPath + " turn them on";
}

bool ServerApp::TftpServiceOn() const {
  std::lock_guard guard(m_serviceLock);
  return m_pTftpListener != nullptr;
}

bool ServerApp::FtpServiceOn() const {
  std::lock_guard guard(m_serviceLock);
  return m_pFtpListener != nullptr;
}

std::optional<std::uint16_t> ServerApp::TftpPort() const {
  std::lock_guard guard(m_serviceLock);
  return m_pTftpListener ? std::optional(m_pTftpListener->Port()) : std::nullopt;
}

std::optional<std::uint16_t> ServerApp::FtpPort() const {
  std::lock_guard guard(m_serviceLock);
  return m_pFtpListener ? std::optional(m_pFtpListener->Port()) : std::nullopt;
}

}  // namespace hx
