#include "tftp/tftp_client_start.h"

#include <climits>
#include <memory>

#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/host_port.h"
#include "app/worker_registry.h"
#include "tftp/tftp_client_session.h"

namespace hx::tftp {
namespace {

constexpr const char* kBlank = "This field cannot be left blank.";
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65534;

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

}  // namespace

const char* TftpClientTitle(bool put) { return put ? "TFTP PUT File Information" : "TFTP GET File Information"; }

const char* TftpClientSection(bool put) { return put ? cfg::kTLastPut : cfg::kTLastGet; }

TftpClientForm LoadTftpClientForm(const ConfigStore& config, bool put) {
  const char* section = TftpClientSection(put);
  TftpClientForm form;
  form.host = cfg::Read(config, cfg::kTLastHost.In(section));
  form.localName = cfg::Read(config, cfg::kTLastLocalName.In(section));
  if (form.localName.empty()) form.localName = cfg::Read(config, cfg::kTDLDir);
  form.port = std::to_string(cfg::Read(config, cfg::kTLastPort.In(section)));
  form.remoteName = cfg::Read(config, cfg::kTLastRemoteName.In(section));
  return form;
}

std::optional<TftpClientFieldError> ValidateTftpClientForm(const TftpClientForm& form, TftpClientJob& job) {
  if (form.host.empty()) return TftpClientFieldError{TftpClientField::Host, kBlank};
  if (form.localName.empty()) return TftpClientFieldError{TftpClientField::LocalName, kBlank};
  auto port = ParseFormInteger(form.port);
  if (!port || *port < INT_MIN || *port > INT_MAX)
    return TftpClientFieldError{TftpClientField::Port, "Please enter an integer."};
  if (*port < kLowestPort || *port > kHighestPort)
    return TftpClientFieldError{TftpClientField::Port, "Please enter an integer between 1 and 65534."};
  if (form.remoteName.empty()) return TftpClientFieldError{TftpClientField::RemoteName, kBlank};
  job.host = FormHost(form.host);
  job.port = static_cast<int>(*port);
  job.remoteName = form.remoteName;
  job.localName = form.localName;
  return std::nullopt;
}

void SaveTftpClientValues(ConfigStore& config, const TftpClientJob& job) {
  const char* section = TftpClientSection(job.put);
  cfg::Write(config, cfg::kTLastHost.In(section), job.host);
  cfg::Write(config, cfg::kTLastLocalName.In(section), job.localName);
  cfg::Write(config, cfg::kTLastPort.In(section), job.port);
  cfg::Write(config, cfg::kTLastRemoteName.In(section), job.remoteName);
}

TftpClientSession* StartTftpClient(AppContext& app, const TftpClientJob& job) {
  auto session = std::make_unique<TftpClientSession>(app, job);
  SaveTftpClientValues(app.config, job);
  auto* started = static_cast<TftpClientSession*>(app.registry.StartWorker(WorkerKind::Tftp, std::move(session)));
  if (started) started->PostStart();
  return started;
}

bool TftpClientSucceeded(std::string_view status) {
  return status.starts_with("TFTP: Successful. Total bytes transferred: ");
}

}  // namespace hx::tftp
