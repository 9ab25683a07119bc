#pragma once

#include <string>
#include <string_view>

namespace hx {

// How text from the network (file names, user names, FTP replies and commands, TFTP error texts) is shown
// in the transfer log, the debug trace, the session list and on a terminal. Each of those outputs applies it
// once, where it builds its line or cell, so that no handler has to remember it.
//
// Every control byte (0x00 to 0x1f and 0x7f) becomes "\x" and two lowercase hex digits: a file name with a
// line break cannot forge a log line, and an escape sequence in a reply cannot steer the operator's terminal.
// A backslash stays as it is: the program's own texts hold Windows paths, and a peer that sends the four
// characters "\x0a" itself breaks no line and moves no cursor. Bytes from 0x80 up (UTF-8 names) stay as
// they are.
std::string EscapeControlChars(std::string_view text);

// The same for a text of the program's own that may span lines (a message box): its line feeds stay. The
// only peer text that reaches a message box is an FTP reply line, which never holds a line feed.
std::string EscapeControlCharsKeepingLines(std::string_view text);

// "PASS ****" for a PASS command line (the verb in any case, with or without a password); any other line
// as it is. What the session list and the debug trace show of a command.
std::string HidePassword(std::string_view commandLine);

}  // namespace hx
