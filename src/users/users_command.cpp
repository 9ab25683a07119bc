#include "users/users_command.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/frontend.h"
#include "app/private_directory.h"
#include "users/directory_rule.h"
#include "users/password_file.h"
#include "users/password_hash.h"
#include "users/profile_rules.h"

namespace hx {
namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage:\n"
    "  harbinex users list [--dir DIR]\n"
    "  harbinex users add NAME --password PW --home DIR [--rights LIST] [--dir DIR]\n"
    "  harbinex users edit NAME [--password PW] [--home DIR] [--rights LIST] [--dir DIR]\n"
    "  harbinex users delete NAME [--dir DIR]\n"
    "PW \"-\" reads the password from one line of standard input (without echo on a terminal).\n"
    "LIST is a comma list of login, upload, download, overwrite, rename, delete, mkdir, rmdir.\n";

// Prints a message as "harbinex: TEXT". Texts that break lines with a lone CR get CR LF there, so that a
// terminal does not write the next line over the first.
void PrintMessage(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    shown += text[i];
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) shown += '\n';
  }
  std::fprintf(stderr, "harbinex: %s\n", shown.c_str());
  std::fflush(stderr);
}

// The password file reports its own failures through message boxes; any of them fails the command.
class UsersConsole : public Frontend {
 public:
  void MessageBox(const std::string& text) override {
    PrintMessage(text);
    ++m_shown;
  }
  int Shown() const { return m_shown; }

 private:
  int m_shown = 0;
};

int Refuse(const std::string& text) {
  PrintMessage(text);
  return kRefused;
}

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "harbinex: %s\n", problem.c_str());
  std::fputs(kUsageText, stderr);
  return kUsage;
}

struct Options {
  std::string name;
  std::optional<std::string> password;
  std::optional<std::string> home;
  std::optional<std::array<bool, kRightCount>> rights;
};

// Takes --password, --home and --rights (add and edit) out of the arguments after the sub-command; what
// remains must be at most the user name. Returns the usage problem, or the empty text.
std::string TakeOptions(CommandLine& line, bool withProfileOptions, Options& options) {
  if (withProfileOptions) {
    bool missing = false;
    options.password = line.TakeOption("--password", missing);
    if (missing) return "--password needs a value";
    // Any user of the machine can read a program's arguments (ps, /proc/PID/cmdline).
    if (options.password && *options.password != "-")
      PrintMessage(
          "warning: a password given on the command line shows in the process list; "
          "--password - reads it from standard input");
    options.home = line.TakeOption("--home", missing);
    if (missing || (options.home && options.home->empty())) return "--home needs a value";
    if (options.home) options.home = NormalProfileDirectory(*options.home);
    auto rights = line.TakeOption("--rights", missing);
    if (missing) return "--rights needs a value";
    if (rights) {
      std::string unknown;
      options.rights = ParseRightsList(*rights, unknown);
      if (!options.rights) return "unknown right \"" + unknown + "\"";
    }
  }
  // args[0] is the sub-command.
  if (line.args.size() > 2) return "unexpected argument \"" + line.args[2] + "\"";
  if (line.args.size() == 2) {
    if (line.args[1].starts_with("--")) return "unknown option \"" + line.args[1] + "\"";
    options.name = line.args[1];
  }
  return {};
}

// Turns the terminal's echo off for as long as it lives, when standard input is a terminal; a line end typed
// is still echoed, so that what follows starts on a line of its own.
class HiddenInput {
 public:
  HiddenInput() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0) return;
    termios quiet = m_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    m_hidden = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~HiddenInput() {
    if (m_hidden) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
  }
  HiddenInput(const HiddenInput&) = delete;
  HiddenInput& operator=(const HiddenInput&) = delete;

  bool Hidden() const { return m_hidden; }

 private:
  termios m_saved{};
  bool m_hidden = false;
};

// "-" takes one line of standard input (without its line end) as the password, typed unseen on a terminal.
std::string PasswordValue(const std::string& given) {
  if (given != "-") return given;
  HiddenInput hidden;
  if (hidden.Hidden()) {
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
  }
  std::string value;
  std::getline(std::cin, value);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  return value;
}

// The stored form of a new password: its hash. False after the refusal when none could be made.
bool StoredPassword(const std::string& password, std::string& stored) {
  std::optional<std::string> hash = HashPassword(password);
  if (!hash) {
    PrintMessage("The password could not be hashed");
    return false;
  }
  stored = std::move(*hash);
  return true;
}

bool HasName(const PasswordFile& store, const std::string& name) {
  std::vector<std::string> names;
  store.GetUserNames(names);
  for (const auto& n : names) {
    if (n == name) return true;
  }
  return false;
}

int List(const std::string& appDir) {
  UsersConsole console;
  PasswordFile store(appDir, console);
  if (console.Shown() > 0) return kRefused;
  for (const auto& line : store.Lines()) {
    UserProfile profile = ParseUserProfile(line);
    std::printf("%s\t%s\t%s\n", profile.name.c_str(), profile.directory.c_str(),
                FormatRightsList(profile.rights).c_str());
  }
  std::fflush(stdout);
  return kDone;
}

int Add(const std::string& appDir, const Options& options) {
  if (options.name.empty()) return Refuse(NoUserNameMessage());
  UsersConsole console;
  PasswordFile store(appDir, console);
  if (console.Shown() > 0) return kRefused;
  if (HasName(store, options.name)) return Refuse(UserExistsMessage(options.name));
  if (auto refusal = CheckNewUserName(options.name)) return Refuse(*refusal);

  // A new profile starts with a one-blank password, which the length rule refuses unless one is given.
  std::string password = options.password ? PasswordValue(*options.password) : std::string(" ");
  if (auto refusal = CheckNewPassword(password)) return Refuse(*refusal);

  // Without --home the profile gets the FTP transfer directory, as a new profile in the dialog does.
  std::string home;
  if (options.home) {
    home = *options.home;
  } else {
    ConfigStore config(std::filesystem::path(appDir) / "Harbinex.ini");
    home = cfg::ReadOr(config, cfg::kFDLDir, PrivateTransferDirectory().value_or(""));
  }
  if (auto refusal = CheckProfileDirectory(home)) return Refuse(*refusal);
  if (home.find("||") != std::string::npos) return Refuse("The directory may not contain \"||\"");

  UserProfile profile;
  profile.name = options.name;
  if (!StoredPassword(password, profile.password)) return kRefused;
  profile.directory = home;
  profile.rights = options.rights.value_or(DefaultNewUserRights());
  if (!store.Add(FormatUserProfile(profile))) {
    // Without a message the name was taken by another writer since the check above.
    return console.Shown() > 0 ? kRefused : Refuse(UserExistsMessage(options.name));
  }
  return kDone;
}

int Edit(const std::string& appDir, const Options& options) {
  if (options.name.empty()) return Refuse(NoUserNameMessage());
  UsersConsole console;
  PasswordFile store(appDir, console);
  if (console.Shown() > 0) return kRefused;
  if (!HasName(store, options.name)) return Refuse(EditUserNotFoundMessage(options.name));
  std::string line = store.Find(options.name);
  if (line.empty()) return Refuse("This user name was not found in the password file");

  UserProfile profile = ParseUserProfile(line);
  if (options.password) {
    std::string password = PasswordValue(*options.password);
    if (auto refusal = CheckNewPassword(password)) return Refuse(*refusal);
    if (!StoredPassword(password, profile.password)) return kRefused;
  }
  if (options.home) {
    std::string home = *options.home;
    if (auto refusal = CheckProfileDirectory(home)) return Refuse(*refusal);
    if (home.find("||") != std::string::npos) return Refuse("The directory may not contain \"||\"");
    profile.directory = home;
  }
  if (options.rights) profile.rights = *options.rights;
  if (!store.Replace(options.name, FormatUserProfile(profile))) {
    // Without a message another writer deleted the profile since it was read.
    return console.Shown() > 0 ? kRefused : Refuse(EditUserNotFoundMessage(options.name));
  }
  return kDone;
}

int Delete(const std::string& appDir, const Options& options) {
  if (options.name.empty()) return Refuse(NoUserNameMessage());
  UsersConsole console;
  PasswordFile store(appDir, console);
  if (console.Shown() > 0) return kRefused;
  if (!HasName(store, options.name)) return Refuse(DeleteUserNotFoundMessage(options.name));
  if (!store.Remove(options.name)) {
    return console.Shown() > 0 ? kRefused : Refuse(DeleteUserNotFoundMessage(options.name));
  }
  return kDone;
}

}  // namespace

int RunUsersCommand(CommandLine& line, const std::string& appDir) {
  if (line.args.empty()) return Usage("");
  const std::string command = line.args[0];
  Options options;
  if (command == "list") {
    if (line.args.size() > 1) return Usage("unexpected argument \"" + line.args[1] + "\"");
    return List(appDir);
  }
  bool profileOptions = command == "add" || command == "edit";
  if (!profileOptions && command != "delete") return Usage("unknown users command \"" + command + "\"");
  if (std::string problem = TakeOptions(line, profileOptions, options); !problem.empty())
    return Usage(problem);
  if (command == "add") return Add(appDir, options);
  if (command == "edit") return Edit(appDir, options);
  return Delete(appDir, options);
}

}  // namespace hx
