#include "tftp/engine_settings.h"

#include "app/config_keys.h"
#include "app/config_store.h"

namespace hx::tftp {

ConfigEngineSettings::ConfigEngineSettings(const ConfigStore& config, std::chrono::milliseconds maxAge)
    : m_config(config), m_maxAge(maxAge) {}

void ConfigEngineSettings::Refresh() const {
  auto now = std::chrono::steady_clock::now();
  if (m_read && now - m_readAt < m_maxAge) return;
  m_nDebugging = m_config.GetProfileInt(cfg::kGeneral, cfg::kDebugging, 0);
  m_nRetries = m_config.GetProfileInt(cfg::kTftp, cfg::kTRetries, 5);
  m_nTimeout = m_config.GetProfileInt(cfg::kTftp, cfg::kTTimeout, 5);
  m_read = true;
  m_readAt = now;
}

int ConfigEngineSettings::Debugging() const {
  Refresh();
  return m_nDebugging;
}

int ConfigEngineSettings::Retries() const {
  Refresh();
  return m_nRetries;
}

int ConfigEngineSettings::TimeoutSeconds() const {
  Refresh();
  return m_nTimeout;
}

bool ConfigEngineSettings::OptionsEnabled() const {
  return m_config.GetProfileInt(cfg::kTftp, "TOptions", 1) != 0;
}
int ConfigEngineSettings::MaxBlockSize() const {
  return m_config.GetProfileInt(cfg::kTftp, "TMaxBlockSize", 65464);
}
int ConfigEngineSettings::MaxWindowSize() const {
  return m_config.GetProfileInt(cfg::kTftp, "TMaxWindowSize", 64);
}

}  // namespace hx::tftp
