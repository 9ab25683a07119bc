#pragma once

#include <array>
#include <string_view>

namespace hx::ftpd {

class ControlSession;

// The command numbers of the server, in the order in which the table is searched. The X-verbs are rows of
// their own with the handler of their twin.
enum class CommandId : int {
  User = 0,
  Pass,
  Acct,
  Cwd,
  Cdup,
  Smnt,
  Quit,
  Rein,
  Port,
  Pasv,
  Type,
  Stru,
  Mode,
  Retr,
  Stor,
  Stou,
  Appe,
  Allo,
  Rest,
  Rnfr,
  Rnto,
  Abor,
  Dele,
  Rmd,
  Mkd,
  Pwd,
  List,
  Nlst,
  Site,
  Syst,
  Stat,
  Help,
  Noop,
  Mdtm,
  Size,
  Feat,
  Xpwd,
  Xrmd,
  Xmkd,
  Xcup,
  Xcwd,
  Eprt,
  Epsv,
  Opts,
  Mlsd,
  Mlst,
  Mfmt,
  Hash,
  Auth,
  Pbsz,
  Prot,
  Ccc,
};
inline constexpr int kCommandCount = 52;
inline constexpr int kUnknownCommand = -1;
inline constexpr int kNoRight = -1;

// Everything the session needs to know about a verb. The session applies the login gate, the transfer
// check and the right before it calls the handler, in that order, so a handler only does its own work.
struct CommandRow {
  std::string_view verb;
  CommandId id;
  void (ControlSession::*handler)(std::string_view line, std::string_view argument);
  int right = kNoRight;           // the profile's right (a profile field) the command needs
  const char* refusal = nullptr;  // the reply when the profile lacks it
  bool waitsForTransfer = false;  // refused while a transfer or listing runs
};

// Every verb the server recognises, in search order; a row's position is its command number.
extern const std::array<CommandRow, kCommandCount> kCommandTable;
// Builds the table; a friend of the session, whose handlers are its own business.
std::array<CommandRow, kCommandCount> MakeCommandTable();

// A line with "ABOR" among its first four positions stands for ABOR whatever precedes it: a client's urgent
// Telnet bytes (interrupt, synch) arrive in front of the verb.
std::string_view ApplyAborRule(std::string_view line);

// The verb of a line: its leading run up to the first blank, TAB, CR or LF.
std::string_view VerbOf(std::string_view line);

// The command number of a line (after the ABOR rule), compared without regard to ASCII case; kUnknownCommand
// when no row matches.
int LookupCommand(std::string_view line);

// AUTH, PBSZ, PROT and CCC: unknown commands while TLS is off.
bool IsTlsCommand(int command);

// The argument of a line by position: everything after the verb of the matched row and the one character
// that follows it; the empty text when the line is not longer than that. Nothing is trimmed.
std::string_view CommandArgument(std::string_view line, int command);

// The login gate: before USER only USER passes, between USER and PASS only PASS; QUIT always passes, so that
// a client can leave before it logged in, and so do FEAT, so that it can choose how to log in, and the TLS
// commands, which come before the login they protect.
bool GateAdmits(bool needUser, bool needPass, int command);

}  // namespace hx::ftpd
