#include "ftp/server/command_table.h"

#include "app/text_util.h"

namespace hx::ftpd {

const std::array<CommandRow, kCommandCount> kCommandTable = {{
    {"USER", CommandId::User}, {"PASS", CommandId::Pass}, {"ACCT", CommandId::Acct}, {"CWD", CommandId::Cwd},
    {"CDUP", CommandId::Cdup}, {"SMNT", CommandId::Smnt}, {"QUIT", CommandId::Quit}, {"REIN", CommandId::Rein},
    {"PORT", CommandId::Port}, {"PASV", CommandId::Pasv}, {"TYPE", CommandId::Type}, {"STRU", CommandId::Stru},
    {"MODE", CommandId::Mode}, {"RETR", CommandId::Retr}, {"STOR", CommandId::Stor}, {"STOU", CommandId::Stou},
    {"APPE", CommandId::Appe}, {"ALLO", CommandId::Allo}, {"REST", CommandId::Rest}, {"RNFR", CommandId::Rnfr},
    {"RNTO", CommandId::Rnto}, {"ABOR", CommandId::Abor}, {"DELE", CommandId::Dele}, {"RMD", CommandId::Rmd},
    {"MKD", CommandId::Mkd},   {"PWD", CommandId::Pwd},   {"LIST", CommandId::List}, {"NLST", CommandId::Nlst},
    {"SITE", CommandId::Site}, {"SYST", CommandId::Syst}, {"STAT", CommandId::Stat}, {"HELP", CommandId::Help},
    {"NOOP", CommandId::Noop}, {"MDTM", CommandId::Mdtm}, {"SIZE", CommandId::Size}, {"FEAT", CommandId::Feat},
    {"XPWD", CommandId::Xpwd}, {"XRMD", CommandId::Xrmd}, {"XMKD", CommandId::Xmkd}, {"XCUP", CommandId::Xcup},
    {"XCWD", CommandId::Xcwd},
}};

std::string_view ApplyAborRule(std::string_view line) {
  size_t at = line.find("ABOR");
  if (at != std::string_view::npos && at <= 3) line.remove_prefix(at);
  return line;
}

std::string_view VerbOf(std::string_view line) {
  size_t end = line.find_first_of(" \t\r\n");
  return end == std::string_view::npos ? line : line.substr(0, end);
}

int LookupCommand(std::string_view line) {
  std::string_view verb = VerbOf(ApplyAborRule(line));
  for (size_t i = 0; i < kCommandTable.size(); ++i)
    if (EqualsNoCase(verb, kCommandTable[i].verb)) return static_cast<int>(i);
  return kUnknownCommand;
}

std::string_view CommandArgument(std::string_view line, int command) {
  size_t skip = command >= 0 && command < kCommandCount ? kCommandTable[command].verb.size() + 1 : 5;
  return line.size() > skip ? line.substr(skip) : std::string_view();
}

bool GateAdmits(bool needUser, bool needPass, int command) {
  if (needUser && command != static_cast<int>(CommandId::User)) return false;
  if (needPass && command != static_cast<int>(CommandId::Pass)) return false;
  return true;
}

}  // namespace hx::ftpd
