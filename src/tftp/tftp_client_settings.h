#pragma once

#include <chrono>

#include "tftp/transfer_engine.h"

namespace hx {
class ConfigStore;
}

namespace hx::tftp {

// The engine's settings for a client session, read from the configuration store like a server session's, but
// looked at again only when `maxAge` has passed since the last look. The engine asks for them with every
// packet; each look costs a check of the configuration file on disk, which would otherwise take a good share of
// the time a block spends in this process. A change made while a transfer runs still applies within `maxAge`.
// For the worker's thread only.
class RecentEngineSettings : public EngineSettings {
 public:
  explicit RecentEngineSettings(const ConfigStore& config,
                                std::chrono::milliseconds maxAge = std::chrono::milliseconds(100));
  int Debugging() const override;
  int Retries() const override;
  int TimeoutSeconds() const override;

 private:
  void Refresh() const;

  const ConfigStore& m_config;
  std::chrono::milliseconds m_maxAge;
  mutable bool m_read = false;
  mutable std::chrono::steady_clock::time_point m_readAt{};
  mutable int m_nDebugging = 0;
  mutable int m_nRetries = 0;
  mutable int m_nTimeout = 0;
};

}  // namespace hx::tftp
