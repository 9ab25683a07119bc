#include "ftp/server/command_table.h"

#include "app/text_util.h"
#include "ftp/server/control_session.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

std::array<CommandRow, kCommandCount> MakeCommandTable() {
  using S = ControlSession;
  // Only a download, an upload or a listing of its own is refused while one runs; everything else is
  // served between a transfer's steps.
  constexpr bool kWaits = true;
  std::array<CommandRow, kCommandCount> rows = {{
      {"USER", CommandId::User, &S::DoUser},
      {"PASS", CommandId::Pass, &S::DoPass},
      {"ACCT", CommandId::Acct, &S::DoNotHere},
      {"CWD", CommandId::Cwd, &S::DoCwd},
      {"CDUP", CommandId::Cdup, &S::DoCdup},
      {"SMNT", CommandId::Smnt, &S::DoNotImplemented},
      {"QUIT", CommandId::Quit, &S::DoQuit},
      {"REIN", CommandId::Rein, &S::DoRein},
      {"PORT", CommandId::Port, &S::DoPort},
      {"PASV", CommandId::Pasv, &S::DoPasv},
      {"TYPE", CommandId::Type, &S::DoType},
      {"STRU", CommandId::Stru, &S::DoStru},
      {"MODE", CommandId::Mode, &S::DoMode},
      {"RETR", CommandId::Retr, &S::DoRetr, kFieldDownload, reply::kNoDownloadRight, kWaits},
      {"STOR", CommandId::Stor, &S::DoStor, kFieldUpload, reply::kNoUploadRight, kWaits},
      {"STOU", CommandId::Stou, &S::DoNotImplemented},
      {"APPE", CommandId::Appe, &S::DoAppe, kFieldUpload, reply::kNoUploadRight, kWaits},
      {"ALLO", CommandId::Allo, &S::DoAllo},
      {"REST", CommandId::Rest, &S::DoRest},
      {"RNFR", CommandId::Rnfr, &S::DoRnfr, kFieldRename, reply::kNoRenameRight},
      {"RNTO", CommandId::Rnto, &S::DoRnto},
      {"ABOR", CommandId::Abor, &S::DoAbor},
      {"DELE", CommandId::Dele, &S::DoDele, kFieldDelete, reply::kNoDeleteRight},
      {"RMD", CommandId::Rmd, &S::DoRmd, kFieldRemoveDirs, reply::kNoRmdirRight},
      {"MKD", CommandId::Mkd, &S::DoMkd, kFieldMakeDirs, reply::kNoMkdirRight},
      {"PWD", CommandId::Pwd, &S::DoPwd},
      {"LIST", CommandId::List, &S::DoList, kNoRight, nullptr, kWaits},
      {"NLST", CommandId::Nlst, &S::DoNlst, kNoRight, nullptr, kWaits},
      {"SITE", CommandId::Site, &S::DoSite},
      {"SYST", CommandId::Syst, &S::DoSyst},
      {"STAT", CommandId::Stat, &S::DoStat},
      {"HELP", CommandId::Help, &S::DoHelp},
      {"NOOP", CommandId::Noop, &S::DoNoop},
      {"MDTM", CommandId::Mdtm, &S::DoMdtm},
      {"SIZE", CommandId::Size, &S::DoSize},
      {"FEAT", CommandId::Feat, &S::DoFeat},
      {"XPWD", CommandId::Xpwd, &S::DoPwd},
      {"XRMD", CommandId::Xrmd, &S::DoRmd, kFieldRemoveDirs, reply::kNoRmdirRight},
      {"XMKD", CommandId::Xmkd, &S::DoMkd, kFieldMakeDirs, reply::kNoMkdirRight},
      {"XCUP", CommandId::Xcup, &S::DoCdup},
      {"XCWD", CommandId::Xcwd, &S::DoCwd},
      {"EPRT", CommandId::Eprt, &S::DoEprt},
      {"EPSV", CommandId::Epsv, &S::DoEpsv},
      {"OPTS", CommandId::Opts, &S::DoOpts},
      {"MLSD", CommandId::Mlsd, &S::DoMlsd, kNoRight, nullptr, kWaits},
      {"MLST", CommandId::Mlst, &S::DoMlst},
      {"MFMT", CommandId::Mfmt, &S::DoMfmt, kFieldUpload, reply::kNoUploadRight},
      {"HASH", CommandId::Hash, &S::DoHash, kFieldDownload, reply::kNoDownloadRight},
      {"AUTH", CommandId::Auth, &S::DoAuth},
      {"PBSZ", CommandId::Pbsz, &S::DoPbsz},
      {"PROT", CommandId::Prot, &S::DoProt},
      {"CCC", CommandId::Ccc, &S::DoNotImplemented},
  }};
  return rows;
}

const std::array<CommandRow, kCommandCount> kCommandTable = MakeCommandTable();

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

bool IsTlsCommand(int command) {
  return command >= static_cast<int>(CommandId::Auth) && command <= static_cast<int>(CommandId::Ccc);
}

bool GateAdmits(bool needUser, bool needPass, int command) {
  if (command == static_cast<int>(CommandId::Quit) || command == static_cast<int>(CommandId::Feat) ||
      IsTlsCommand(command))
    return true;
  if (needUser && command != static_cast<int>(CommandId::User)) return false;
  if (needPass && command != static_cast<int>(CommandId::Pass)) return false;
  return true;
}

}  // namespace hx::ftpd
