#pragma once

#include "tftp/transfer_engine.h"

namespace hx {
class ConfigStore;
}

namespace hx::tftp {

// The engine's settings as the configuration store holds them, read at every use.
class ConfigEngineSettings : public EngineSettings {
 public:
  explicit ConfigEngineSettings(const ConfigStore& config) : m_config(config) {}
  int Debugging() const override;
  int Retries() const override;
  int TimeoutSeconds() const override;

 private:
  const ConfigStore& m_config;
};

}  // namespace hx::tftp
