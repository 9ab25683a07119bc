#include "tftp/engine_settings.h"

#include <algorithm>

#include "app/config_keys.h"
#include "app/config_store.h"

namespace hx::tftp {

ConfigEngineSettings::ConfigEngineSettings(const ConfigStore& config, std::chrono::milliseconds maxAge)
    : m_config(config), m_maxAge(maxAge) {}

void ConfigEngineSettings::Refresh() const {
  auto now = std::chrono::steady_clock::now();
  if (m_read && now - m_readAt < m_maxAge) return;
  m_nDebugging = cfg::Read(m_config, cfg::kDebugging);
  m_nRetries = cfg::Read(m_config, cfg::kTRetries);
  m_nTimeout = cfg::Read(m_config, cfg::kTTimeout);
  m_bOptions = cfg::Read(m_config, cfg::kTOptions) != 0;
  m_nMaxBlockSize = cfg::Read(m_config, cfg::kTMaxBlockSize);
  // Every block of a window is held until its ACK: more than 64 is not granted, whatever the file says.
  m_nMaxWindowSize = std::clamp(cfg::Read(m_config, cfg::kTMaxWindowSize), 1, kMaxGrantedWindow);
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
  Refresh();
  return m_bOptions;
}

int ConfigEngineSettings::MaxBlockSize() const {
  Refresh();
  return m_nMaxBlockSize;
}

int ConfigEngineSettings::MaxWindowSize() const {
  Refresh();
  return m_nMaxWindowSize;
}

}  // namespace hx::tftp
