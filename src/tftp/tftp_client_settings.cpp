#include "tftp/tftp_client_settings.h"

#include "app/config_keys.h"
#include "app/config_store.h"

namespace hx::tftp {

RecentEngineSettings::RecentEngineSettings(const ConfigStore& config, std::chrono::milliseconds maxAge)
    : m_config(config), m_maxAge(maxAge) {}

void RecentEngineSettings::Refresh() const {
  auto now = std::chrono::steady_clock::now();
  if (m_read && now - m_readAt < m_maxAge) return;
  m_nDebugging = m_config.GetProfileInt(cfg::kGeneral, cfg::kDebugging, 0);
  m_nRetries = m_config.GetProfileInt(cfg::kTftp, cfg::kTRetries, 5);
  m_nTimeout = m_config.GetProfileInt(cfg::kTftp, cfg::kTTimeout, 5);
  m_read = true;
  m_readAt = now;
}

int RecentEngineSettings::Debugging() const {
  Refresh();
  return m_nDebugging;
}

int RecentEngineSettings::Retries() const {
  Refresh();
  return m_nRetries;
}

int RecentEngineSettings::TimeoutSeconds() const {
  Refresh();
  return m_nTimeout;
}

}  // namespace hx::tftp
