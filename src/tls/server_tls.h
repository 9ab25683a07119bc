#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "tls/tls_context.h"

namespace hx {
class ConfigStore;
}

namespace hx::tls {

// The FTP server's TLS as the settings make it (FTLS, FTLSCertificate, FTLSKey): a server context, or the
// reason there is none. Shared by the listeners and sessions (which take the context when a handshake
// starts) and the configuration sheet; every call is safe from any thread.
class ServerTls {
 public:
  // Loads the certificate and key. With FTLS not 0 and either file missing, first makes a self-signed pair
  // for this host (a present file is never overwritten, even a broken one). Returns the line for the log:
  // the new certificate and its fingerprint, or why TLS is off; empty when TLS is off by the settings or
  // loaded as before.
  std::string Load(const ConfigStore& config, const std::string& appDir);
  // Makes a new key and certificate in place of the files, then loads them; returns the line for the log.
  std::string Renew(const ConfigStore& config, const std::string& appDir);

  // nullptr when TLS is off or could not be loaded.
  std::shared_ptr<TlsContext> Context() const;
  // Why TLS could not be loaded ("FTLSKey /x/Harbinex.key: ..."); empty when it was or is off.
  std::string Problem() const;
  // The loaded certificate's fingerprint; empty without one.
  std::string Fingerprint() const;

  // The file a setting names: a name without a folder (any relative path) lies in the program directory.
  static std::string ResolveFile(const std::string& setting, const std::string& appDir);

 private:
  // Loads the pair into the context; the log line of a failure, empty on success.
  std::string LoadFiles(const std::string& certificateFile, const std::string& keyFile);
  void Set(std::shared_ptr<TlsContext> context, std::string problem);

  std::mutex m_updating;  // one Load or Renew at a time
  mutable std::mutex m_mutex;
  std::shared_ptr<TlsContext> m_context;
  std::string m_problem;
};

}  // namespace hx::tls
