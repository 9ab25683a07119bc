#include "ui/commands.h"

#include <algorithm>
#include <iterator>

namespace hx {
namespace {

constexpr CommandText kTexts[] = {
    {Command::Config, "&Config", "Configure this application"},
    {Command::Exit, "E&xit", "Exit this application"},
    {Command::TftpIsOff, "", "TFTP Server is OFF. Select this button to enable it"},
    {Command::FtpIsOff, "", "FTP Server is OFF. Select this button to enable it"},
    {Command::TftpIsOn, "", "TFTP Server is ON. Select this button to disable it"},
    {Command::FtpIsOn, "", "FTP Server is ON. Select this button to disable it"},
    {Command::ToggleFtp, "Toggle Ftp S&erver", "Toggle FTP Server ON or OFF"},
    {Command::ToggleTftp, "Toggle &Tftp Server", "Toggle TFTP Server ON or OFF"},
    {Command::FtpClientGet, "Ftp Client (Get File)", "Get a file from an FTP server"},
    {Command::FtpClientPut, "Ftp Client (Put File)", "Send a file to an FTP server"},
    {Command::TftpClientGet, "Tftp Client (Get File)", "Get a file from a TFTP server"},
    {Command::TftpClientPut, "Tftp Client (Put File)", "Send a file to a TFTP Server"},
    {Command::EnableLogging, "Enable Logging", "Enable Logging of file transfers"},
    {Command::EnableDebugging, "Enable Debugging", "Enable Debugging  (Warning..Very slow!)"},
    {Command::LogOutput, "&Log Output", "View log output in a window"},
    {Command::DebugOutput, "&Debug Output", "View Debug output in a window"},
    {Command::Web, "&Vantrel on the Web", "Go to the Vantrel Web Site"},
    {Command::ToggleStatusWindow, "Toggle status window",
     "Toggles the status window. Can speed up transfers."},
    {Command::ClearCompleted, "Clear completed sessions from list",
     "Clears the display list of any sessions that have already completed"},
    {Command::ShowWindow, "Show Window", "Show the main window"},
    {Command::About, "&About", "About this application"},
    {Command::HelpContents, "&Help Contents", "View Help Index"},
};

}  // namespace

const CommandText& TextOf(Command command) {
  auto it = std::find_if(std::begin(kTexts), std::end(kTexts),
                         [command](const CommandText& t) { return t.command == command; });
  return *it;  // every command has an entry; the tests hold the table complete
}

}  // namespace hx
