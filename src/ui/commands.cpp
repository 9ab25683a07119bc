#include "ui/commands.h"

#include <algorithm>
#include <iterator>

namespace hx {
namespace {

constexpr CommandText kTexts[] = {
    {Command::Config, "&Config", "Configure this application", "Ctrl+,"},
    {Command::Exit, "E&xit", "Exit this application", "Ctrl+Q"},
    {Command::TftpIsOff, "", "TFTP Server is OFF. Select this button to enable it"},
    {Command::FtpIsOff, "", "FTP Server is OFF. Select this button to enable it"},
    {Command::TftpIsOn, "", "TFTP Server is ON. Select this button to disable it"},
    {Command::FtpIsOn, "", "FTP Server is ON. Select this button to disable it"},
    {Command::ToggleFtp, "Toggle Ftp S&erver", "Toggle FTP Server ON or OFF", "Ctrl+2"},
    {Command::ToggleTftp, "Toggle &Tftp Server", "Toggle TFTP Server ON or OFF", "Ctrl+1"},
    {Command::FtpClientGet, "Ftp Client (&Get File)", "Get a file from an FTP server", "Ctrl+3"},
    {Command::FtpClientPut, "Ftp Client (&Put File)", "Send a file to an FTP server", "Ctrl+4"},
    {Command::TftpClientGet, "Tftp Client (G&et File)", "Get a file from a TFTP server", "Ctrl+5"},
    {Command::TftpClientPut, "Tftp Client (P&ut File)", "Send a file to a TFTP Server", "Ctrl+6"},
    {Command::EnableLogging, "Enable &Logging", "Enable Logging of file transfers"},
    {Command::EnableDebugging, "Enable &Debugging", "Enable Debugging  (Warning..Very slow!)"},
    {Command::LogOutput, "&Log Output", "View log output in a window", "Ctrl+L"},
    {Command::DebugOutput, "&Debug Output", "View Debug output in a window", "Ctrl+D"},
    {Command::Web, "&Vantrel on the Web", "Go to the Vantrel Web Site"},
    {Command::ToggleStatusWindow, "Toggle &status window",
     "Toggles the status window. Can speed up transfers."},
    {Command::ClearCompleted, "Clear &completed sessions from list",
     "Clears the display list of any sessions that have already completed"},
    {Command::ShowWindow, "&Show Window", "Show the main window"},
    {Command::About, "&About", "About this application"},
    {Command::HelpContents, "&Help Contents", "View Help Index", "F1"},
};

constexpr const char* kQuitQuestion = "This will close this application.\nDo you really want to quit?";

}  // namespace

const CommandText& TextOf(Command command) {
  auto it = std::find_if(std::begin(kTexts), std::end(kTexts),
                         [command](const CommandText& t) { return t.command == command; });
  return *it;  // every command has an entry; the tests hold the table complete
}

std::string QuitQuestion(int runningTransfers) {
  if (runningTransfers <= 0) return kQuitQuestion;
  std::string count = runningTransfers == 1 ? "1 transfer is running. "
                                            : std::to_string(runningTransfers) + " transfers are running. ";
  return count + kQuitQuestion;
}

}  // namespace hx
