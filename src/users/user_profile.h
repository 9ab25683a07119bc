#pragma once

#include <array>
#include <string>
#include <string_view>

namespace hx {

// The eight rights of a profile, in the order of their fields (3 to 10) in a profile line.
enum class Right : int {
  Login = 0,
  Upload,
  Download,
  Overwrite,
  Rename,
  Delete,
  MakeDirs,
  RemoveDirs,
};
inline constexpr int kRightCount = 8;

// One line of the password file taken apart: name, stored (encoded) password, directory, rights.
struct UserProfile {
  std::string name;
  std::string password;   // the stored form: a hash, or the old reversible form (password_hash.h)
  std::string directory;  // normally ending in "/"
  std::array<bool, kRightCount> rights{};

  bool Has(Right right) const { return rights[static_cast<int>(right)]; }
  void Set(Right right, bool granted) { rights[static_cast<int>(right)] = granted; }
};

// Takes a profile line apart with ExtractField and "||"; a right is granted when its field reads as a
// nonzero integer (leading blanks, optional sign, digits); a missing or empty field counts as not granted.
UserProfile ParseUserProfile(std::string_view line);
// "%s||%s||%s||%d||%d||%d||%d||%d||%d||%d||%d": name, password, directory, the eight rights as 1 or 0.
std::string FormatUserProfile(const UserProfile& profile);

}  // namespace hx
