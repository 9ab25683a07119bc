#pragma once

#include <string>

#include "app/version.h"

namespace hx {

// The commands of the window with their texts: the menu text, the prompt that the status bar shows while the
// item is under the cursor (also the tool tip of a toolbar button), and the key that runs it.
enum class Command : int {
  Config = 32782,
  Exit = 32783,
  TftpIsOff = 32788,  // toolbar: the TFTP button while the service is off
  FtpIsOff = 32789,
  TftpIsOn = 32790,
  FtpIsOn = 32791,
  ToggleFtp = 32794,
  ToggleTftp = 32795,
  FtpClientGet = 32796,
  FtpClientPut = 32797,
  TftpClientGet = 32798,
  TftpClientPut = 32799,
  EnableLogging = 32800,
  EnableDebugging = 32801,
  LogOutput = 32802,
  DebugOutput = 32804,
  Web = 32805,
  ToggleStatusWindow = 32807,
  ClearCompleted = 32808,
  ShowWindow = 32809,
  About = 57664,
  HelpContents = 57666,
};

struct CommandText {
  Command command;
  const char* menuText;  // empty for toolbar-only commands
  const char* prompt;
  // A key in the form QKeySequence reads ("Ctrl+Q"); empty for none. The keys leave alone what the standard
  // keys do (Ctrl+F finds in the list, Ctrl+C copies rows) and the mnemonics of the menus (Alt).
  const char* shortcut = "";
};

// The text entry of a command; every Command has one.
const CommandText& TextOf(Command command);

// The quit question, which counts the transfers that quitting cuts off.
std::string QuitQuestion(int runningTransfers);

inline constexpr const char* kReadyPrompt = "Ready";
inline constexpr const char* kTftpOnPane = "   TFTP: On   ";
inline constexpr const char* kTftpOffPane = "   TFTP: Off   ";
inline constexpr const char* kFtpOnPane = "   FTP: On   ";
inline constexpr const char* kFtpOffPane = "   FTP: Off   ";
inline constexpr const char* kTrayTip = "Vantrel Harbinex";
inline constexpr const char* kAboutText = kAboutVersionText;

}  // namespace hx
