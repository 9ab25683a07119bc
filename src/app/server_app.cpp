#include "app/server_app.h"

#include "app/config_keys.h"
#include "app/frontend.h"
#include "app/private_directory.h"

namespace hx {
namespace {

std::string WithTrailingSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

ServerApp::ServerApp(std::filesystem::path appDir, Frontend& frontend, Services services, Mode mode)
    : m_strAppDir(WithTrailingSlash(appDir.string())),
      m_frontend(frontend),
      m_services(std::move(services)),
      m_mode(mode),
      m_config(m_strAppDir + "Harbinex.ini"),
      m_registry(frontend),
      m_log(m_strAppDir, m_config, frontend),
      m_context{m_strAppDir, m_config, m_registry, m_log, frontend, m_shares} {
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

void ServerApp::NormaliseInt(const char* section, const char* key, int defaultValue) {
  m_config.WriteProfileInt(section, key, m_config.GetProfileInt(section, key, defaultValue));
}

bool ServerApp::InitInstance() {
  // The main window's part: the version row, the log, debugging off, and the services the settings want.
  m_registry.InsertVersionRow(kVersionText);
  m_log.Start();
  SetTftpService(m_config.GetProfileInt(cfg::kTftp, cfg::kTftpServer, 1) == 1);
  SetFtpService(m_config.GetProfileInt(cfg::kFtp, cfg::kFtpServer, 1) == 1);

  for (const auto& k : cfg::kStartIntKeys) NormaliseInt(k.section, k.key, k.startDefault);
  m_config.WriteProfileInt(cfg::kGeneral, cfg::kDebugging, 0);

  auto temp = PrivateTransferDirectory();
  if (temp) {
    m_config.WriteProfileString(cfg::kTftp, cfg::kTDLDir,
                                m_config.GetProfileString(cfg::kTftp, cfg::kTDLDir, *temp));
    for (const auto& k : cfg::kStartFtpKeys) NormaliseInt(k.section, k.key, k.startDefault);
    temp = PrivateTransferDirectory();
  }
  if (!temp) {
    m_frontend.MessageBox("Failed getting Download Directory!");
    return false;
  }
  m_config.WriteProfileString(cfg::kFtp, cfg::kFDLDir,
                              m_config.GetProfileString(cfg::kFtp, cfg::kFDLDir, *temp));
  m_config.WriteProfileString(
      cfg::kFtp, cfg::kFPassivePorts,
      m_config.GetProfileString(cfg::kFtp, cfg::kFPassivePorts, cfg::kDefaultPassivePorts));
  m_config.WriteProfileString(cfg::kFtp, cfg::kFPassiveAddress,
                              m_config.GetProfileString(cfg::kFtp, cfg::kFPassiveAddress, ""));
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
  m_log.Close();
  return 0;
}

bool ServerApp::SetService(std::unique_ptr<Listener>& slot, const ListenerFactory& factory,
                           const char* section, const char* key, bool on) {
  std::lock_guard guard(m_serviceLock);
  bool result = m_network.RunSync([&] {
    if (!on) {
      slot.reset();
      return false;
    }
    if (slot) return true;
    if (!factory) return false;
    std::unique_ptr<Listener> listener = factory(m_context, m_network.Context());
    if (!listener || !listener->Open()) return false;
    slot = std::move(listener);
    return true;
  });
  if (result == on || m_mode == Mode::Window) m_config.WriteProfileInt(section, key, result ? 1 : 0);
  return result;
}

bool ServerApp::SetTftpService(bool on) {
  return SetService(m_pTftpListener, m_services.tftp, cfg::kTftp, cfg::kTftpServer, on);
}

bool ServerApp::SetFtpService(bool on) {
  return SetService(m_pFtpListener, m_services.ftp, cfg::kFtp, cfg::kFtpServer, on);
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
