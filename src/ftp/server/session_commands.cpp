// The commands that need no more than their line: QUIT, REIN, PORT, ABOR, NOOP, the refusals, and the
// information commands TYPE, MODE, STRU, SYST, HELP, FEAT and STAT.
#include <algorithm>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ftp/server/control_session.h"
#include "ftp/server/download.h"
#include "ftp/server/info_replies.h"
#include "ftp/server/listing.h"
#include "ftp/server/replies.h"
#include "ftp/server/upload.h"

namespace hx::ftpd {

void ControlSession::DoQuit(std::string_view, std::string_view) {
  SendReply(reply::kGoodbye);
  m_bConnected = false;
  LogEntry("FTP: Connection closed");
  EndSession();
}

void ControlSession::DoRein(std::string_view, std::string_view) {
  // Only the login starts over: profile, PORT, type and a pending REST stay until replaced.
  m_bNeedUser = true;
  m_bNeedPass = false;
  m_strRootDir = m_context.config.GetProfileString(cfg::kFtp, cfg::kFDLDir, "");
  std::replace(m_strRootDir.begin(), m_strRootDir.end(), '\\', '/');
  m_strCurDir = m_strRootDir;
}

void ControlSession::DoPort(std::string_view, std::string_view argument) {
  // Checked when a data command uses it.
  m_strPort = argument;
  SendReply(reply::kPortOk);
}

void ControlSession::DoAbor(std::string_view, std::string_view) {
  if (m_pSendSocket) {
    m_pSendSocket->Abort();
  } else if (m_pRecvSocket) {
    auto upload = m_pRecvSocket;
    upload->Abort();
  }
}

void ControlSession::DoNoop(std::string_view, std::string_view) { SendReply(reply::kNoopOk); }

void ControlSession::DoNotHere(std::string_view, std::string_view) { SendReply(reply::kNotImplementedHere); }

void ControlSession::DoNotImplemented(std::string_view line, std::string_view) {
  SendReply(FormatReply(reply::kNotImplementedFormat, line));
}

void ControlSession::DoType(std::string_view, std::string_view argument) {
  SendReply(TypeReply(argument, m_chType));
}

void ControlSession::DoMode(std::string_view, std::string_view argument) { SendReply(ModeReply(argument)); }

void ControlSession::DoStru(std::string_view, std::string_view argument) { SendReply(StruReply(argument)); }

void ControlSession::DoSyst(std::string_view, std::string_view) { SendReply(SystemReply()); }

void ControlSession::DoHelp(std::string_view, std::string_view) {
  for (const char* text : kHelpLines) SendReply(text);
}

void ControlSession::DoFeat(std::string_view, std::string_view) {
  for (const char* text : kFeatLines) SendReply(text);
}

void ControlSession::DoStat(std::string_view, std::string_view argument) {
  if (argument.empty()) {
    for (const std::string& text : StatusLines(m_strPeerAddr, m_strUser, m_chType)) SendReply(text);
    return;
  }
  std::string path(argument);
  std::vector<ListEntry> entries;
  if (ResolvePath(path, PathMode::List)) entries = FindEntries(Files(), path);
  if (entries.empty()) {
    SendReply(reply::kFileNotFound);
    return;
  }
  SendReply(reply::kFileStatusBegin);
  for (const ListEntry& entry : entries) SendReply(FormatListLine(entry, false));
  SendReply(reply::kFileStatusEnd);
}

}  // namespace hx::ftpd
