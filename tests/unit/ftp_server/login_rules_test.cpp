#include "ftp/server/login_rules.h"

#include <gtest/gtest.h>

#include <map>

#include "users/extract_field.h"

namespace hx::ftpd {
namespace {

TEST(LoginRulesTest, RightsByTheAtoiRule) {
  const std::string profile = "bob||ENC||/srv/bob/||1||0|| 1||-1||x||||7";
  struct Case {
    int field;
    int value;
  } cases[] = {{3, 1}, {4, 0}, {5, 1}, {6, -1}, {7, 0}, {8, 0}, {9, 7}, {10, 0}, {11, 0}};
  for (const auto& c : cases) EXPECT_EQ(GetRight(profile, c.field), c.value) << c.field;
}

TEST(LoginRulesTest, MadeUpProfiles) {
  EXPECT_EQ(AllRightsProfile("joe", "pw", "/srv/"), "joe||pw||/srv/||1||1||1||1||1||1||1||1");
  EXPECT_EQ(AnonymousProfile("me@x", "/srv/", 1, 0, 1), "anonymous||me@x||/srv/||0||1||0||1||0||0||0||0");
  EXPECT_EQ(AnonymousProfile("", "/srv/", 0, 1, 0), "anonymous||||/srv/||0||0||1||0||0||0||0||0");
  // A client's text cannot add fields to a made-up profile and so choose its root or rights.
  std::string forged = AnonymousProfile("x||/||1||1||1||1||1||1||1||1", "/srv/", 0, 1, 0);
  EXPECT_EQ(ExtractField(forged, "||", 2), "/srv/");
  EXPECT_EQ(GetRight(forged, kFieldDelete), 0);
  std::string named = AllRightsProfile("a||/", "b", "/srv/");
  EXPECT_EQ(ExtractField(named, "||", 2), "/srv/");
}

TEST(LoginRulesTest, RootTakesASeparatorAndForwardSlashes) {
  struct Case {
    std::string directory, root;
  } cases[] = {
      {"/srv/ftp/", "/srv/ftp/"},
      {"/srv/ftp", "/srv/ftp/"},
      {"C:\\ftp\\", "C:/ftp/"},
      {"C:\\ftp", "C:/ftp/"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TakeOverRoot(c.directory), c.root) << c.directory;
}

TEST(LoginRulesTest, DeniedLogTextSeparatesTheNameFromAttempted) {
  EXPECT_EQ(LoginDeniedLogText("bob"), "FTP: User bob attempted access. User profile denied access");
}

// The password file of the cases: "STORED:" + the plain password stands for the encoded form.
std::string Find(std::string_view name) {
  static const std::map<std::string, std::string, std::less<>> kProfiles = {
      {"bob", "bob||STORED:secret||/srv/bob/||1||1||1||0||0||0||0||0"},
      {"locked", "locked||STORED:secret||/srv/locked/||0||1||1||1||1||1||1||1"},
      {"nodir", "nodir||STORED:secret||||1||1||1||1||1||1||1||1"},
  };
  auto it = kProfiles.find(name);
  return it == kProfiles.end() ? std::string() : it->second;
}

std::string FindWithAnonymous(std::string_view name, bool loginRight) {
  if (name == "anonymous")
    return std::string("anonymous||STORED:x||/srv/anon/||") + (loginRight ? "1" : "0") +
           "||0||1||0||0||0||0||0";
  return Find(name);
}

bool Check(std::string_view plain, std::string_view stored) {
  return stored == "STORED:" + std::string(plain);
}

TEST(LoginRulesTest, Decisions) {
  LoginSettings secure;
  secure.userSecurity = 1;
  secure.anonAllowed = 0;
  secure.anonymousRoot = "/srv/pub/";
  LoginSettings open = secure;
  open.userSecurity = 0;
  LoginSettings anon = secure;
  anon.anonAllowed = 1;
  anon.allowUpload = 0;

  struct Case {
    const char* what;
    std::string user, password;
    LoginSettings settings;
    bool granted;
    std::optional<std::string> profile;
  } cases[] = {
      {"security off: anyone", "who", "ever", open, true, "who||ever||/srv/pub/||1||1||1||1||1||1||1||1"},
      {"named user, right password", "bob", "secret", secure, true, Find("bob")},
      {"named user, wrong password", "bob", "Secret", secure, false, Find("bob")},
      {"names are case-sensitive", "Bob", "secret", secure, false, ""},
      {"unknown user", "eve", "secret", secure, false, ""},
      {"login right 0", "locked", "secret", secure, false, Find("locked")},
      {"profile without a directory", "nodir", "secret", secure, false, Find("nodir")},
      {"anonymous not allowed keeps the old profile", "anonymous", "", secure, false, std::nullopt},
      {"anonymous from the settings, any case", "AnonYmous", "", anon, true,
       "anonymous||||/srv/pub/||0||0||1||0||0||0||0||0"},
  };
  for (const auto& c : cases) {
    LoginOutcome outcome = DecideLogin(c.user, c.password, c.settings, Find, Check);
    EXPECT_EQ(outcome.granted, c.granted) << c.what;
    EXPECT_EQ(outcome.profile, c.profile) << c.what;
  }
}

TEST(LoginRulesTest, AnonymousProfileOfThePasswordFileWins) {
  LoginSettings anon;
  anon.anonAllowed = 1;
  anon.anonymousRoot = "/srv/pub/";
  auto withLogin = [](std::string_view name) { return FindWithAnonymous(name, true); };
  auto withoutLogin = [](std::string_view name) { return FindWithAnonymous(name, false); };
  // Any password; the profile's own directory and rights.
  LoginOutcome granted = DecideLogin("anonymous", "whatever", anon, withLogin, Check);
  EXPECT_TRUE(granted.granted);
  EXPECT_EQ(ExtractField(*granted.profile, "||", 2), "/srv/anon/");
  // Its Login right 0 refuses even though the settings allow anonymous users.
  EXPECT_FALSE(DecideLogin("ANONYMOUS", "x", anon, withoutLogin, Check).granted);
}

}  // namespace
}  // namespace hx::ftpd
