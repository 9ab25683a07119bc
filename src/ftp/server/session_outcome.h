#pragma once

#include <string>
#include <string_view>

#include "ftp/server/command_table.h"

namespace hx::ftpd {

// Whether the last transfer or login of a control connection failed, as its replies tell. The row of a
// session shows every reply, so the goodbye to QUIT would hide a failed download or a refused login behind
// a closing text; a session whose outcome failed shows that failure's reply in its Status instead.
//
// Only the replies about a transfer or a login count: a refused CWD or an unknown command is part of a
// client's ordinary conversation.
class SessionOutcome {
 public:
  // A reply to `command` (nullopt: the reply of a running transfer, whichever command came since). A
  // refusal (4xx, 5xx) about a transfer or login is the failure; a completion (2xx) clears it; preliminary
  // replies (1xx, 3xx) change nothing.
  void Note(int command, std::string_view reply);
  void NoteTransferReply(std::string_view reply);
  bool Failed() const { return !m_failure.empty(); }
  // The first line of the reply that failed; empty when the outcome is not a failure.
  const std::string& Failure() const { return m_failure; }

 private:
  void Note(std::string_view reply);

  std::string m_failure;
};

// Whether a command's replies tell how a transfer or a login went: the data commands, USER and PASS.
bool DecidesOutcome(int command);

}  // namespace hx::ftpd
