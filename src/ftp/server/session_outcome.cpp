#include "ftp/server/session_outcome.h"

namespace hx::ftpd {

bool DecidesOutcome(int command) {
  if (command == kUnknownCommand) return false;
  switch (static_cast<CommandId>(command)) {
    case CommandId::User:
    case CommandId::Pass:
    case CommandId::Retr:
    case CommandId::Stor:
    case CommandId::Stou:
    case CommandId::Appe:
    case CommandId::List:
    case CommandId::Nlst:
    case CommandId::Mlsd:
      return true;
    default:
      return false;
  }
}

void SessionOutcome::Note(int command, std::string_view reply) {
  if (DecidesOutcome(command)) Note(reply);
}

void SessionOutcome::NoteTransferReply(std::string_view reply) {
  Note(reply);
}

void SessionOutcome::Note(std::string_view reply) {
  if (reply.empty()) return;
  if (reply[0] == '4' || reply[0] == '5')
    m_failure = reply.substr(0, reply.find_first_of("\r\n"));
  else if (reply[0] == '2')
    m_failure.clear();
}

}  // namespace hx::ftpd
