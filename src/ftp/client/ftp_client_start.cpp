#include "ftp/client/ftp_client_start.h"

#include <climits>
#include <memory>

#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/host_port.h"
#include "app/worker_registry.h"
#include "ftp/client/ftp_client_worker.h"
#include "tls/certificate.h"

namespace hx::ftpc {
namespace {

constexpr const char* kBlank = "This field cannot be left blank.";

// An integer as the form takes it: optional blanks, an optional sign, digits, optional blanks.
std::optional<long long> ParseFormInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digits = 0;
  long long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < 1'000'000'000'000LL) value = value * 10 + (text[i] - '0');
    ++i;
    ++digits;
  }
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (digits == 0 || i != text.size()) return std::nullopt;
  return negative ? -value : value;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

const char* FtpClientTitle(bool put) {
  return put ? "FTP PUT File Information" : "FTP GET File Information";
}

const char* FtpClientSection(bool put) {
  return put ? cfg::kFLastPut : cfg::kFLastGet;
}

FtpClientForm LoadFtpClientForm(const ConfigStore& config, bool put) {
  const char* section = FtpClientSection(put);
  FtpClientForm form;
  form.host = cfg::Read(config, cfg::kFLastHost.In(section));
  form.localName = cfg::Read(config, cfg::kFLastLocalName.In(section));
  if (form.localName.empty()) form.localName = cfg::Read(config, cfg::kFDLDir);
  form.port = std::to_string(cfg::Read(config, cfg::kFLastPort.In(section)));
  form.remoteName = cfg::Read(config, cfg::kFLastRemoteName.In(section));
  form.password.clear();
  form.user = cfg::Read(config, cfg::kFLastUser.In(section));
  form.passive = cfg::Read(config, cfg::kFLastPassive.In(section)) != 0;
  form.tls = cfg::Read(config, cfg::kFLastTls.In(section)) != 0;
  return form;
}

std::optional<FtpClientFieldError> ValidateFtpClientForm(const FtpClientForm& form, FtpClientJob& job) {
  if (form.host.empty()) return FtpClientFieldError{FtpClientField::Host, kBlank};
  if (form.localName.empty()) return FtpClientFieldError{FtpClientField::LocalName, kBlank};
  auto port = ParseFormInteger(form.port);
  if (!port || *port < INT_MIN || *port > INT_MAX) {
    return FtpClientFieldError{FtpClientField::Port, "Please enter an integer."};
  }
  // Any other number would reach the connect truncated to 16 bits, that is a different server.
  if (*port < 1 || *port > 65535) {
    return FtpClientFieldError{FtpClientField::Port, "Please enter an integer between 1 and 65535."};
  }
  const std::pair<const std::string*, FtpClientField> commandFields[] = {
      {&form.remoteName, FtpClientField::RemoteName},
      {&form.password, FtpClientField::Password},
      {&form.user, FtpClientField::User},
  };
  for (const auto& [text, field] : commandFields) {
    if (text->empty()) return FtpClientFieldError{field, kBlank};
    // A line break would end the command early and smuggle the rest to the server as a command of its own.
    if (HasLineBreak(*text)) return FtpClientFieldError{field, "This field cannot contain a line break."};
  }
  job.host = FormHost(form.host);
  job.port = static_cast<int>(*port);
  job.user = form.user;
  job.password = form.password;
  job.remoteName = form.remoteName;
  job.localName = form.localName;
  job.passive = form.passive;
  job.tls = form.tls ? FtpClientJob::Tls::Explicit : FtpClientJob::Tls::Off;
  return std::nullopt;
}

void SaveFtpClientValues(ConfigStore& config, const FtpClientJob& job) {
  const char* section = FtpClientSection(job.put);
  cfg::Write(config, cfg::kFLastHost.In(section), job.host);
  cfg::Write(config, cfg::kFLastLocalName.In(section), job.localName);
  cfg::Write(config, cfg::kFLastPort.In(section), job.port);
  cfg::Write(config, cfg::kFLastRemoteName.In(section), job.remoteName);
  cfg::Write(config, cfg::kFLastUser.In(section), job.user);
  cfg::Write(config, cfg::kFLastPassive.In(section), job.passive ? 1 : 0);
  cfg::Write(config, cfg::kFLastTls.In(section), job.tls != FtpClientJob::Tls::Off ? 1 : 0);
}

std::optional<std::string> TrustedFingerprint(const ConfigStore& config, const std::string& host, int port) {
  return tls::ParseFingerprint(config.GetProfileString(cfg::kFtpsTrusted, cfg::FtpsTrustedKey(host, port)));
}

void RememberFingerprint(ConfigStore& config, const std::string& host, int port,
                         const std::string& fingerprint) {
  config.WriteProfileString(cfg::kFtpsTrusted, cfg::FtpsTrustedKey(host, port), fingerprint);
}

std::string TrustQuestion(const std::string& fingerprint, const std::string& host, int port) {
  // An IPv6 address in brackets, so that the port stands apart from it.
  std::string server = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return "The server's certificate has the fingerprint " + fingerprint + " Trust it for " + server + ":" +
         std::to_string(port) + "?";
}

TrustDecision PinTrustedCertificate(ConfigStore& config, FtpClientJob& job, const CertificateProbe& probe,
                                    const std::function<bool(const std::string& question)>& ask,
                                    std::string& error) {
  if (job.tls == FtpClientJob::Tls::Off || job.insecure || !job.fingerprint.empty())
    return TrustDecision::Start;
  if (std::optional<std::string> trusted = TrustedFingerprint(config, job.host, job.port)) {
    job.fingerprint = *trusted;
    return TrustDecision::Start;
  }
  std::optional<std::string> found = probe(job.host, static_cast<std::uint16_t>(job.port),
                                           job.tls == FtpClientJob::Tls::Implicit, kProbeLimit, error);
  if (!found) return TrustDecision::ProbeFailed;
  if (!ask(TrustQuestion(*found, job.host, job.port))) return TrustDecision::Declined;
  RememberFingerprint(config, job.host, job.port, *found);
  job.fingerprint = *found;
  return TrustDecision::Start;
}

FtpClientWorker* StartFtpClient(AppContext& app, const FtpClientJob& job) {
  auto worker = std::make_unique<FtpClientWorker>(app, job);
  SaveFtpClientValues(app.config, job);
  auto* started = static_cast<FtpClientWorker*>(app.registry.StartWorker(WorkerKind::Ftp, std::move(worker)));
  if (started) started->PostStart();
  return started;
}

}  // namespace hx::ftpc
