#include "tftp/tftp_client_command.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/client_console.h"
#include "app/host_port.h"
#include "app/session_table.h"
#include "tftp/tftp_client_session.h"
#include "tftp/tftp_client_start.h"

namespace hx {
namespace {

constexpr const char* kUsageText =
    "usage: harbinex tftp get|put HOST[:PORT] REMOTE LOCAL [--blksize N] [--windowsize N] [--timeout S] "
    "[--dir DIR]\n";

// The option fields of the form that the command line fills, by the option that fills each.
struct OptionArgument {
  const char* name;
  std::string tftp::TftpClientForm::*field;
  tftp::TftpClientField formField;
};

constexpr OptionArgument kOptionArguments[] = {
    {"--blksize", &tftp::TftpClientForm::blockSize, tftp::TftpClientField::BlockSize},
    {"--windowsize", &tftp::TftpClientForm::windowSize, tftp::TftpClientField::WindowSize},
    {"--timeout", &tftp::TftpClientForm::timeout, tftp::TftpClientField::Timeout},
};

const OptionArgument* ArgumentOf(tftp::TftpClientField field) {
  for (const auto& option : kOptionArguments)
    if (option.formField == field) return &option;
  return nullptr;
}

// Waits until the session has ended or its Status says the file went over. A download that succeeded may
// still dally to answer a retransmitted final block; the command does not make its caller wait for that,
// as the file is complete and closed, so the dally is cut short.
void WaitForOutcome(ClientCommandApp& app, tftp::TftpClientSession& session) {
  while (!session.Finished()) {
    if (tftp::TftpClientSucceeded(app.Context().registry.CellText(session.m_nSessionId, kColStatus))) {
      session.RequestStop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

int RunTftpClientCommand(CommandLine& line, const std::string& appDir) {
  tftp::TftpClientForm form;
  bool missing = false;
  const OptionArgument* emptyOption = nullptr;
  for (const auto& option : kOptionArguments) {
    if (auto value = line.TakeOption(option.name, missing)) {
      if (value->empty()) emptyOption = &option;
      form.*option.field = *value;
    }
  }
  const auto& args = line.args;
  if (missing || args.size() != 4 || (args[0] != "get" && args[0] != "put")) {
    std::fputs(kUsageText, stderr);
    return 2;
  }
  // The form reads an empty field as "not asked for"; an option given with an empty value is no number.
  if (emptyOption) {
    std::fprintf(stderr, "harbinex: %s: Please enter an integer.\n", emptyOption->name);
    return 2;
  }
  HostPortText hostPort = SplitHostPort(args[1], "69");
  form.host = hostPort.host;
  form.port = hostPort.port;
  form.remoteName = args[2];
  form.localName = args[3];

  tftp::TftpClientJob job;
  job.put = args[0] == "put";
  if (auto problem = tftp::ValidateTftpClientForm(form, job)) {
    // A refused option is a usage error, named by its option; the other fields keep the dialog's messages.
    if (const OptionArgument* option = ArgumentOf(problem->field)) {
      std::fprintf(stderr, "harbinex: %s: %s\n", option->name, problem->message.c_str());
      return 2;
    }
    std::fprintf(stderr, "harbinex: %s\n", problem->message.c_str());
    return 1;
  }

  ClientCommandApp app(appDir);
  tftp::TftpClientSession* session = tftp::StartTftpClient(app.Context(), job);
  if (session == nullptr) return 1;
  WaitForOutcome(app, *session);
  app.WaitAndReport(*session);
  return tftp::TftpClientSucceeded(app.Context().registry.CellText(session->m_nSessionId, kColStatus)) ? 0
                                                                                                       : 1;
}

}  // namespace hx
