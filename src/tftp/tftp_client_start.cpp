#include "tftp/tftp_client_start.h"

#include <climits>
#include <memory>

#include "app/app_context.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/host_port.h"
#include "app/worker_registry.h"
#include "tftp/tftp_client_session.h"
#include "tftp/tftp_options.h"

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

std::string RangeText(long long lowest, long long highest) {
  return "Please enter an integer between " + std::to_string(lowest) + " and " + std::to_string(highest) +
         ".";
}

// One integer field of the form within [lowest, highest]: the value, or the refusal of that field.
struct FieldValue {
  std::optional<int> value;
  std::optional<TftpClientFieldError> error;
};

FieldValue CheckInteger(const std::string& text, TftpClientField field, int lowest, int highest) {
  auto value = ParseFormInteger(text);
  if (!value || *value < INT_MIN || *value > INT_MAX)
    return {{}, TftpClientFieldError{field, "Please enter an integer."}};
  if (*value < lowest || *value > highest)
    return {{}, TftpClientFieldError{field, RangeText(lowest, highest)}};
  return {static_cast<int>(*value), {}};
}

// An option field: empty asks for nothing.
FieldValue CheckOption(const std::string& text, TftpClientField field, int lowest, int highest) {
  if (text.empty()) return {};
  return CheckInteger(text, field, lowest, highest);
}

std::string OptionText(const std::optional<int>& value) {
  return value ? std::to_string(*value) : std::string();
}

}  // namespace

const char* TftpClientTitle(bool put) {
  return put ? "TFTP PUT File Information" : "TFTP GET File Information";
}

const char* TftpClientSection(bool put) {
  return put ? cfg::kTLastPut : cfg::kTLastGet;
}

TftpClientForm LoadTftpClientForm(const ConfigStore& config, bool put) {
  const char* section = TftpClientSection(put);
  TftpClientForm form;
  form.host = cfg::Read(config, cfg::kTLastHost.In(section));
  form.localName = cfg::Read(config, cfg::kTLastLocalName.In(section));
  if (form.localName.empty()) form.localName = cfg::Read(config, cfg::kTDLDir);
  form.port = std::to_string(cfg::Read(config, cfg::kTLastPort.In(section)));
  form.remoteName = cfg::Read(config, cfg::kTLastRemoteName.In(section));
  form.blockSize = cfg::Read(config, cfg::kTLastBlockSize.In(section));
  form.windowSize = cfg::Read(config, cfg::kTLastWindowSize.In(section));
  form.timeout = cfg::Read(config, cfg::kTLastTimeout.In(section));
  return form;
}

std::optional<TftpClientFieldError> ValidateTftpClientForm(const TftpClientForm& form, TftpClientJob& job) {
  if (form.host.empty()) return TftpClientFieldError{TftpClientField::Host, kBlank};
  if (form.localName.empty()) return TftpClientFieldError{TftpClientField::LocalName, kBlank};
  FieldValue port = CheckInteger(form.port, TftpClientField::Port, kLowestPort, kHighestPort);
  if (port.error) return port.error;
  if (form.remoteName.empty()) return TftpClientFieldError{TftpClientField::RemoteName, kBlank};
  FieldValue blockSize =
      CheckOption(form.blockSize, TftpClientField::BlockSize, kMinBlockSize, kMaxBlockSize);
  if (blockSize.error) return blockSize.error;
  FieldValue windowSize =
      CheckOption(form.windowSize, TftpClientField::WindowSize, kMinWindowSize, kMaxWindowSize);
  if (windowSize.error) return windowSize.error;
  FieldValue timeout =
      CheckOption(form.timeout, TftpClientField::Timeout, kMinTimeoutSeconds, kMaxTimeoutSeconds);
  if (timeout.error) return timeout.error;
  job.host = FormHost(form.host);
  job.port = *port.value;
  job.remoteName = form.remoteName;
  job.localName = form.localName;
  job.options.blockSize = blockSize.value;
  job.options.windowSize = windowSize.value;
  job.options.timeoutSeconds = timeout.value;
  return std::nullopt;
}

void SaveTftpClientValues(ConfigStore& config, const TftpClientJob& job) {
  const char* section = TftpClientSection(job.put);
  cfg::Write(config, cfg::kTLastHost.In(section), job.host);
  cfg::Write(config, cfg::kTLastLocalName.In(section), job.localName);
  cfg::Write(config, cfg::kTLastPort.In(section), job.port);
  cfg::Write(config, cfg::kTLastRemoteName.In(section), job.remoteName);
  cfg::Write(config, cfg::kTLastBlockSize.In(section), OptionText(job.options.blockSize));
  cfg::Write(config, cfg::kTLastWindowSize.In(section), OptionText(job.options.windowSize));
  cfg::Write(config, cfg::kTLastTimeout.In(section), OptionText(job.options.timeoutSeconds));
}

TftpClientSession* StartTftpClient(AppContext& app, const TftpClientJob& job) {
  auto session = std::make_unique<TftpClientSession>(app, job);
  SaveTftpClientValues(app.config, job);
  auto* started =
      static_cast<TftpClientSession*>(app.registry.StartWorker(WorkerKind::Tftp, std::move(session)));
  if (started) started->PostStart();
  return started;
}

bool TftpClientSucceeded(std::string_view status) {
  return status.starts_with("TFTP: Successful. Total bytes transferred: ");
}

}  // namespace hx::tftp
