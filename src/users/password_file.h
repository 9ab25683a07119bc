#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "users/extract_field.h"
#include "users/user_profile.h"

namespace hx {

class Frontend;

// The password file "Harbinex.pwd" of the program directory: one profile line per line, CR LF line ends. It
// is readable by its owner only: its hashes are worth guessing at offline, and the passwords that earlier
// versions stored decode without a key. A store lives for one operation:
// construction reads the whole file, every change is written back whole at once (through a temporary file and
// an atomic rename, so no reader ever sees half a file and a crash never loses profiles). A change applies to
// the file as it is on disk at that moment, not to the lines read at construction, and holds the writers'
// lock ("Harbinex.pwd.lock") from that read to the rename, so that writers in any thread or process never
// lose each other's profiles; readers take no lock. Each store belongs to one thread; stores on other threads
// see the file as it is on disk.
class PasswordFile {
 public:
  // Reads the file, creating it empty (mode 0600) when missing. When it cannot be opened, the message box
  // "Error opening password file for reading" is shown and the store is empty.
  PasswordFile(const std::string& appDir, Frontend& frontend);

  // The first line whose name (field 0) equals `name` exactly, case-sensitive; empty when there is none.
  std::string Find(std::string_view name) const;
  // Appends the name of every line, in file order, to `out`; false when the store is empty.
  bool GetUserNames(std::vector<std::string>& out) const;
  // Appends the profile line and saves; false, without saving, when the file already holds a profile of that
  // name (another writer added it since this store was read).
  bool Add(const std::string& profile);
  // Removes the first line with that name and saves; false, without saving, when there is none.
  bool Remove(std::string_view name);
  // Replaces the first line with that name and saves; false, without saving, when there is none.
  bool Replace(std::string_view name, const std::string& profile);
  // Replaces the stored password (field 1) of the first line with that name by `replacement`, every other
  // byte of the line kept, and saves; false, without saving, when there is no such line or its field 1 no
  // longer reads `expected` (another writer changed the password since it was read).
  bool ReplacePassword(std::string_view name, std::string_view expected, std::string_view replacement);
  // Writes the lines of this store back, each ending in CR LF.
  bool Save();
  // Add, Remove, Replace and Save return false too after the message box "Error opening password file for
  // writing"; the file on disk is then unchanged and so is the store. Otherwise the store holds the lines of
  // the file as the change left them, changed or not.

  const std::vector<std::string>& Lines() const { return m_lines; }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  // Applies `change` to the lines of the file as it is now and writes them back, all under the writers' lock;
  // `change` returns false to leave the file as it is.
  bool Change(const std::function<bool(std::vector<std::string>& lines)>& change);

  std::filesystem::path m_path;
  Frontend& m_frontend;
  std::vector<std::string> m_lines;  // the non-empty lines, in file order
};

}  // namespace hx
