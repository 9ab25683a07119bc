#pragma once

// The reply texts of the server, byte for byte as clients see them. Texts with "%s" or a number are completed
// by their callers; every reply ends in CR LF and goes out as one line.
namespace hx::ftpd::reply {

inline constexpr const char* kBanner = "220 Vantrel FTP Server Version 1.1\r\n";
inline constexpr const char* kTooManyConnections = "421 Too many connections, try again later\r\n";
inline constexpr const char* kTooManyFromAddress = "421 Too many connections from your address\r\n";
// To a peer outside FAllow, before the greeting.
inline constexpr const char* kServiceNotAvailable =
    "421 Service not available, closing control connection.\r\n";
inline constexpr const char* kIdleTimeout = "421 Timeout.\r\n";
inline constexpr const char* kNotLoggedIn = "530 Not logged in\r\n";
inline constexpr const char* kLineTooLong = "500 Command line too long\r\n";
inline constexpr const char* kNotImplementedHere = "202 Command not implemented on this site\r\n";
inline constexpr const char* kNotImplementedFormat = "502 Command %s not implemented\r\n";
inline constexpr const char* kGoodbye = "221 Service closing control connection\r\n";
inline constexpr const char* kGoodbyeBeforeLogin = "221 Goodbye.\r\n";
inline constexpr const char* kPortOk = "200 PORT command successful.\r\n";
inline constexpr const char* kEprtOk = "200 EPRT command successful.\r\n";
inline constexpr const char* kEpsvAllOk = "200 EPSV ALL command successful.\r\n";
inline constexpr const char* kUnknownNetworkProtocol = "522 Network protocol not supported, use (1,2)\r\n";
inline constexpr const char* kUseEprt = "522 Use EPRT on an IPv6 connection\r\n";
inline constexpr const char* kUseEpsv = "522 Use EPSV on an IPv6 connection\r\n";
inline constexpr const char* kNothingToAbort = "225 No transfer to abort.\r\n";
inline constexpr const char* kUtf8Ok = "200 Always in UTF8 mode.\r\n";
inline constexpr const char* kNoopOk = "200 Command OK\r\n";

// Login.
inline constexpr const char* kNeedPassword = "331 User name ok, need password\r\n";
inline constexpr const char* kLoggedIn = "230 User logged in\r\n";
inline constexpr const char* kLoginDenied = "530 Login access denied\r\n";
inline constexpr const char* kTooManyFailedLogins = "421 Too many failed logins.\r\n";

// Rights.
inline constexpr const char* kNoUploadRight = "532 Need account for storing files\r\n";
inline constexpr const char* kNoDownloadRight = "550 Requested action not taken. No access rights.\r\n";
inline constexpr const char* kNoOverwriteRight =
    "550 File unavailable. Overwrite not allowed by user profile\r\n";
inline constexpr const char* kNoRenameRight = "550 File unavailable. User profile has no access\r\n";
inline constexpr const char* kNoDeleteRight =
    "550 File unavailable. User profile not allowed to delete files\r\n";
inline constexpr const char* kNoMkdirRight =
    "550 File unavailable. User profile not allowed to create directories\r\n";
inline constexpr const char* kNoRmdirRight =
    "550 File unavailable. User profile not allowed to remove directories\r\n";

// File system.
inline constexpr const char* kCwdOk = "250 CWD command successful\r\n";
inline constexpr const char* kPwdFormat = "257 \"%s\" is current directory\r\n";
inline constexpr const char* kMkdOk = "257 MKD Command successful.\r\n";
inline constexpr const char* kMkdFailed = "550 Could not create directory\r\n";
inline constexpr const char* kRmdFailed = "550 Could not remove directory\r\n";
inline constexpr const char* kActionOk = "250 Requested file action OK, completed\r\n";
inline constexpr const char* kDeleFailed = "550 Could not remove file\r\n";
inline constexpr const char* kPending = "350 Requested file action pending further information\r\n";
inline constexpr const char* kRenameFailed = "553 Could not rename file\r\n";
inline constexpr const char* kIllegalFileName = "553 Illegal file name\r\n";
// Work that would read the disk at length waits for the blocking pool, and too much waits already.
inline constexpr const char* kServerBusy = "451 Server busy, try again later\r\n";
inline constexpr const char* kSyntaxError = "501 Syntax error in parameters\r\n";
inline constexpr const char* kFileNotFound = "213 File not found\r\n";
inline constexpr const char* kFileStatusBegin = "213- File status\r\n";
inline constexpr const char* kFileStatusEnd = "213 File status complete\r\n";
inline constexpr const char* kMlstBeginFormat = "250- Listing %s\r\n";
inline constexpr const char* kMlstEnd = "250 End\r\n";
inline constexpr const char* kNotADirectory = "501 Not a directory\r\n";
// Every command beneath the session's folder while it is missing (ServedRoot::State::Missing).
inline constexpr const char* kFolderMissing = "550 Transfer folder is missing\r\n";
// Setting a file's times; MFMT's success is filled with "TIME; NAME".
inline constexpr const char* kModifiedFormat = "213 Modify=%s\r\n";
inline constexpr const char* kSiteUtimeOk = "200 SITE UTIME command successful\r\n";
// Digests (HASH, OPTS HASH). A file that another session writes has no digest worth giving yet.
inline constexpr const char* kFileBusy = "450 Requested file action not taken. File busy\r\n";
inline constexpr const char* kHashSelectedFormat = "200 %s\r\n";
inline constexpr const char* kUnknownHashAlgorithm =
    "501 Unknown algorithm, current selection not changed\r\n";

// Data connections and transfers.
inline constexpr const char* kCantOpenData = "425 Can't open data connection\r\n";
inline constexpr const char* kTooManyPassive = "425 Too many passive connections from your address\r\n";
inline constexpr const char* kTransferBusy =
    "450 Requested file action not taken. A transfer is in progress\r\n";
inline constexpr const char* kAboutToOpen = "150 File status OK ; about to open data connection\r\n";
inline constexpr const char* kOpeningBinaryFormat = "150 Opening BINARY mode data connection for %s.\r\n";
inline constexpr const char* kFileUnavailable = "550 File unavailable\r\n";
inline constexpr const char* kClosingData = "226 Closing data connection\r\n";
inline constexpr const char* kBadSequence = "503 Bad sequence of commands\r\n";
// TLS (AUTH, PBSZ, PROT).
inline constexpr const char* kAuthOk = "234 AUTH TLS successful\r\n";
inline constexpr const char* kAuthUnknown = "504 AUTH type not supported\r\n";
inline constexpr const char* kTlsUnavailable = "431 TLS is not available\r\n";
inline constexpr const char* kTlsAlreadyOn = "503 TLS is already on\r\n";
inline constexpr const char* kPbszOk = "200 PBSZ=0\r\n";
inline constexpr const char* kPbszFirst = "503 PBSZ first\r\n";
inline constexpr const char* kProtPrivate = "200 Protection level set to P\r\n";
inline constexpr const char* kProtClear = "200 Protection level set to C\r\n";
inline constexpr const char* kProtSafe = "536 Requested PROT level not supported by mechanism\r\n";
inline constexpr const char* kProtOther = "504 Command not implemented for that parameter\r\n";
inline constexpr const char* kTlsRequired = "530 TLS required\r\n";
inline constexpr const char* kDataMustBeEncrypted = "521 Data connections must be encrypted\r\n";
inline constexpr const char* kRestartFileError = "451 Requested action aborted - File error\r\n";
inline constexpr const char* kRestartBeyondEnd = "554 Restart position beyond end of file\r\n";
inline constexpr const char* kCouldNotCreateSocket = "451 Couldn't create socket: ";
inline constexpr const char* kCouldNotSetOptions = "451 Couldn't set socket options: ";
inline constexpr const char* kCouldNotBind = "451 Couldn't bind socket to data port: ";
inline constexpr const char* kCouldNotConnect = "451 Couldn't connect: ";
inline constexpr const char* kDownloadOk = "226 File transfer successful.\r\n";
inline constexpr const char* kDownloadAborted = "226 ABORT command successful.\r\n";
inline constexpr const char* kUploadOk = "226 File transfer successful\r\n";
inline constexpr const char* kUploadAborted = "226 ABORT command successful\r\n";
inline constexpr const char* kTransferFailed = "426 Transfer terminated abnormally\r\n";
// The operator's actions on a session from its row.
inline constexpr const char* kCancelledByOperator = "426 Transfer aborted by the operator\r\n";
inline constexpr const char* kDisconnectedByOperator = "421 Disconnected by the operator\r\n";

}  // namespace hx::ftpd::reply
