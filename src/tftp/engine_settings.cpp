#include "tftp/engine_settings.h"

#include "app/config_keys.h"
#include "app/config_store.h"

namespace hx::tftp {

int ConfigEngineSettings::Debugging() const { return m_config.GetProfileInt(cfg::kGeneral, cfg::kDebugging, 0); }

int ConfigEngineSettings::Retries() const { return m_config.GetProfileInt(cfg::kTftp, cfg::kTRetries, 5); }

int ConfigEngineSettings::TimeoutSeconds() const { return m_config.GetProfileInt(cfg::kTftp, cfg::kTTimeout, 5); }

}  // namespace hx::tftp
