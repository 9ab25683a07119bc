#include "tls/server_tls.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "app/config_keys.h"
#include "tls/certificate.h"

namespace hx::tls {
namespace {

struct Files {
  std::string certificate;
  std::string key;
};

Files FilesOf(const ConfigStore& config, const std::string& appDir) {
  auto file = [&](const cfg::TextSetting& setting) {
    std::string name = cfg::Read(config, setting);
    return ServerTls::ResolveFile(name.empty() ? setting.first : name, appDir);
  };
  return {file(cfg::kFTLSCertificate), file(cfg::kFTLSKey)};
}

// A problem that begins with one of the files gets the setting that names it in front.
std::string Named(const std::string& problem, const Files& files) {
  if (problem.starts_with(files.key + ": ")) return std::string(cfg::kFTLSKey.key) + " " + problem;
  if (problem.starts_with(files.certificate + ": "))
    return std::string(cfg::kFTLSCertificate.key) + " " + problem;
  return problem;
}

// Only a file that is not there at all counts as missing: one that cannot be read is left alone.
bool Missing(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
}

std::string MadeLine(const std::string& host, const std::string& fingerprint) {
  return "FTP: Made a TLS certificate for " + host + ", fingerprint " + fingerprint;
}

}  // namespace

std::string ServerTls::Load(const ConfigStore& config, const std::string& appDir) {
  std::lock_guard updating(m_updating);
  if (cfg::Read(config, cfg::kFTLS) == 0) {
    Set(nullptr, {});
    return {};
  }
  const Files files = FilesOf(config, appDir);
  std::string madeFor;
  if (Missing(files.certificate) && Missing(files.key)) {
    madeFor = LocalHostName();
    std::string error = MakeSelfSignedCertificate(files.certificate, files.key, madeFor, LocalAddresses());
    if (!error.empty()) {
      Set(nullptr, Named(error, files));
      return "FTP: TLS is off: " + Problem();
    }
  }
  std::string line = LoadFiles(files.certificate, files.key);
  if (!line.empty() || madeFor.empty()) return line;
  return MadeLine(madeFor, Fingerprint());
}

std::string ServerTls::Renew(const ConfigStore& config, const std::string& appDir) {
  std::lock_guard updating(m_updating);
  const Files files = FilesOf(config, appDir);
  const std::string host = LocalHostName();
  std::string error = MakeSelfSignedCertificate(files.certificate, files.key, host, LocalAddresses());
  // The files are as they were: so is what was loaded from them.
  if (!error.empty()) return "FTP: Could not make a TLS certificate: " + Named(error, files);
  if (cfg::Read(config, cfg::kFTLS) == 0) {
    Set(nullptr, {});
    return MadeLine(host, CertificateFingerprint(files.certificate, error).value_or(""));
  }
  std::string line = LoadFiles(files.certificate, files.key);
  return line.empty() ? MadeLine(host, Fingerprint()) : line;
}

std::string ServerTls::LoadFiles(const std::string& certificateFile, const std::string& keyFile) {
  std::string error;
  std::shared_ptr<TlsContext> context = TlsContext::MakeServer(certificateFile, keyFile, error);
  if (!context) {
    Set(nullptr, Named(error, {certificateFile, keyFile}));
    return "FTP: TLS is off: " + Problem();
  }
  Set(std::move(context), {});
  return {};
}

void ServerTls::Set(std::shared_ptr<TlsContext> context, std::string problem) {
  std::lock_guard lock(m_mutex);
  m_context = std::move(context);
  m_problem = std::move(problem);
}

std::shared_ptr<TlsContext> ServerTls::Context() const {
  std::lock_guard lock(m_mutex);
  return m_context;
}

std::string ServerTls::Problem() const {
  std::lock_guard lock(m_mutex);
  return m_problem;
}

std::string ServerTls::Fingerprint() const {
  std::lock_guard lock(m_mutex);
  return m_context ? m_context->Fingerprint() : std::string();
}

// A relative name (a bare file name above all) lies in the program directory, whatever the working directory.
std::string ServerTls::ResolveFile(const std::string& setting, const std::string& appDir) {
  std::filesystem::path path(setting);
  if (path.is_absolute()) return setting;
  return (std::filesystem::path(appDir) / path).string();
}

}  // namespace hx::tls
