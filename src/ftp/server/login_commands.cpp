// USER and PASS: which profile a session gets, and whether the login is granted.
#include "app/config_keys.h"
#include "app/config_store.h"
#include "ftp/server/control_session.h"
#include "ftp/server/ftp_worker.h"
#include "ftp/server/login_rules.h"
#include "ftp/server/password_login.h"
#include "ftp/server/replies.h"
#include "users/extract_field.h"

namespace hx::ftpd {

void ControlSession::DoUser(std::string_view, std::string_view argument) {
  m_strUser = argument;
  // A rename begun under one login is never finished under another (in another profile's root).
  m_strRenameFrom.clear();
  SendReply(reply::kNeedPassword);
  LogEntry("FTP: Login attempt by: " + m_strUser);
}

void ControlSession::DoPass(std::string_view, std::string_view argument) {
  m_strPassword = argument;
  m_strRenameFrom.clear();

  const ConfigStore& config = m_context.config;
  LoginSettings settings;
  settings.userSecurity = cfg::Read(config, cfg::kUserSecurity);
  settings.anonAllowed = cfg::Read(config, cfg::kAnonAllowed);
  settings.allowUpload = cfg::Read(config, cfg::kFAllowUpload);
  settings.allowDownload = cfg::Read(config, cfg::kFAllowDownload);
  settings.overwrite = cfg::Read(config, cfg::kFOverwrite);
  settings.anonymousRoot = cfg::ReadOr(config, cfg::kFDLDir, m_strCurDir);

  // The store is read for every PASS, whatever the settings, so that a missing file is created there. A
  // hash takes tens of milliseconds to check: that runs on the pool for password checks, no command being
  // read meanwhile; without one, or when it takes no more work, here, since the login must be answered.
  auto decide = [appDir = m_context.appDir, frontend = &m_context.frontend, user = m_strUser,
                 password = m_strPassword,
                 settings] { return DecidePass(appDir, *frontend, user, password, settings); };
  auto answer = [this](PassDecision decision) { PassDecided(std::move(decision)); };
  if (m_context.passwordChecks == nullptr || !OffloadTo(*m_context.passwordChecks, decide, answer))
    PassDecided(decide());
}

void ControlSession::PassDecided(PassDecision decision) {
  if (decision.unknownStoredForm && m_context.reportedProfiles.First(m_strUser))
    LogEntry("FTP: The stored password of user " + m_strUser + " is in no known form; the login is refused");
  if (decision.outcome.profile) m_strProfile = std::move(*decision.outcome.profile);
  if (decision.outcome.granted)
    LoginGranted();
  else
    LoginDenied();
}

bool ControlSession::HeldBackAsGuessing(const std::string& line) {
  if (m_passHeldBack) return false;
  std::chrono::seconds pause = m_context.loginThrottle.Pause(m_peerAddress, m_context.clock.Now());
  if (pause.count() == 0) return false;
  m_loginPause = true;
  m_loginPauseTimer->ExpiresAfter(pause);
  m_loginPauseTimer->AsyncWait(m_worker.Bind([this, line](std::error_code error) {
    if (error || m_ending) return;
    m_loginPause = false;
    m_passHeldBack = true;
    HandleLine(line);
    m_passHeldBack = false;
    ResumeProcessing();
  }));
  return true;
}

void ControlSession::LoginGranted() {
  m_context.loginThrottle.Succeeded(m_peerAddress);
  m_strRootDir = TakeOverRoot(ExtractField(m_strProfile, kProfileSeparator, kFieldDirectory));
  m_strCurDir = m_strRootDir;
  SendReply(reply::kLoggedIn);
  LogEntry("FTP: Login successful");
}

void ControlSession::LoginDenied() {
  m_bNeedUser = true;
  ++m_nFailedLogins;
  if (m_context.loginThrottle.Failed(m_peerAddress, m_context.clock.Now()))
    LogEntry("FTP: " + m_strPeerAddr + " failed to log in " + std::to_string(LoginThrottle::kFreeFailures) +
             " times within a minute; its logins wait longer with every further failure");
  // No further command is taken until the reply has gone, so a client that sends its guesses without waiting
  // gets no further; the wait is a timer, the session loop's thread serves the other sessions meanwhile.
  m_loginPause = true;
  m_loginPauseTimer->ExpiresAfter(kFailedLoginPause);
  m_loginPauseTimer->AsyncWait(m_worker.Bind([this](std::error_code error) {
    if (error || m_ending) return;
    m_loginPause = false;
    AnswerRefusedLogin();
  }));
}

void ControlSession::AnswerRefusedLogin() {
  if (m_nFailedLogins < kMaxFailedLogins) {
    SendReply(reply::kLoginDenied);
    LogEntry(LoginDeniedLogText(m_strUser));
    ResumeProcessing();
    return;
  }
  SendReply(reply::kTooManyFailedLogins);
  LogEntry(LoginDeniedLogText(m_strUser));
  CloseTransfers();
  m_bConnected = false;
  LogEntry("FTP: Connection closed after " + std::to_string(kMaxFailedLogins) + " failed logins");
  EndSession();
}

int ControlSession::GetRight(int field) const {
  return ftpd::GetRight(m_strProfile, field);
}

}  // namespace hx::ftpd
