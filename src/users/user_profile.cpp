#include "users/user_profile.h"

#include "app/config_store.h"
#include "users/extract_field.h"

namespace hx {

UserProfile ParseUserProfile(std::string_view line) {
  UserProfile profile;
  profile.name = ExtractField(line, kProfileSeparator, 0);
  profile.password = ExtractField(line, kProfileSeparator, 1);
  profile.directory = ExtractField(line, kProfileSeparator, 2);
  for (int i = 0; i < kRightCount; ++i) {
    profile.rights[i] = ParseProfileInt(ExtractField(line, kProfileSeparator, 3 + i)) != 0;
  }
  return profile;
}

std::string FormatUserProfile(const UserProfile& profile) {
  std::string line = profile.name;
  for (const std::string* field : {&profile.password, &profile.directory}) {
    line += kProfileSeparator;
    line += *field;
  }
  for (bool granted : profile.rights) {
    line += kProfileSeparator;
    line += granted ? '1' : '0';
  }
  return line;
}

}  // namespace hx
