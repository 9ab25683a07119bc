#pragma once

#include <chrono>

#include "tftp/transfer_engine.h"

namespace hx {
class ConfigStore;
}

namespace hx::tftp {

// The largest window the server grants (TMaxWindowSize is read within 1 to this).
inline constexpr int kMaxGrantedWindow = 64;

// The engine's settings as the configuration store holds them. The engine asks for them with every packet;
// each look at the store costs a check of the file on disk, a good share of the time a block spends in the
// program, so the values are looked at together and again only once `maxAge` has passed. A change made
// while a transfer runs applies within `maxAge`. For one thread only.
class ConfigEngineSettings : public EngineSettings {
 public:
  explicit ConfigEngineSettings(const ConfigStore& config,
                                std::chrono::milliseconds maxAge = std::chrono::milliseconds(100));
  int Debugging() const override;
  int Retries() const override;
  int TimeoutSeconds() const override;
  bool OptionsEnabled() const override;
  int MaxBlockSize() const override;
  int MaxWindowSize() const override;

 private:
  void Refresh() const;

  const ConfigStore& m_config;
  std::chrono::milliseconds m_maxAge;
  mutable bool m_read = false;
  mutable std::chrono::steady_clock::time_point m_readAt{};
  mutable int m_nDebugging = 0;
  mutable int m_nRetries = 0;
  mutable int m_nTimeout = 0;
  mutable bool m_bOptions = false;
  mutable int m_nMaxBlockSize = 0;
  mutable int m_nMaxWindowSize = 0;
};

}  // namespace hx::tftp
