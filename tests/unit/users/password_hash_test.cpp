#include "users/password_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "users/password_codec.h"

namespace hx {
namespace {

const char* FormName(StoredPasswordForm form) {
  switch (form) {
    case StoredPasswordForm::Hash:
      return "hash";
    case StoredPasswordForm::Encoded:
      return "encoded";
    case StoredPasswordForm::Unknown:
      break;
  }
  return "unknown";
}

TEST(PasswordHash, NewPasswordsAreYescryptHashesThatCheck) {
  const std::string plains[] = {"secret1", "p|a||ss w0rd", std::string(40, 'x'), "Ünïcödé pass ☃"};
  for (const auto& plain : plains) {
    std::optional<std::string> hash = HashPassword(plain);
    ASSERT_TRUE(hash.has_value()) << plain;
    EXPECT_EQ(hash->rfind("$y$", 0), 0u) << *hash;
    EXPECT_EQ(hash->find('|'), std::string::npos) << *hash;
    EXPECT_EQ(hash->find(plain), std::string::npos) << *hash;
    PasswordCheck right = CheckStoredPassword(plain, *hash);
    EXPECT_TRUE(right.matches) << plain;
    EXPECT_EQ(FormName(right.form), std::string("hash"));
    EXPECT_FALSE(CheckPassword(plain + "x", *hash)) << plain;
    EXPECT_FALSE(CheckPassword(plain.substr(1), *hash)) << plain;
    // A fresh salt every time.
    EXPECT_NE(HashPassword(plain), hash);
  }
}

TEST(PasswordHash, StoredFieldsOfEveryForm) {
  // Hashes made by the crypt library of other schemes ("$6$" by `openssl passwd -6 -salt Harbinex6`), the
  // reversible form of earlier versions, and fields that are neither.
  const std::string unicode = "Ünïcödé pass ☃";
  struct Case {
    std::string stored;
    std::string plain;
    bool matches;
    const char* form;
  };
  const Case cases[] = {
      {"$6$Harbinex6$RIXJNLU0KbJb.Z/La31oM.HxZ9ndOyCvwLtK0IAyrFNu/W49b7w3oZR0PqpTml/V.KyXH8s1HZ.DFJY2h595w/",
       "correct horse", true, "hash"},
      {"$6$Harbinex6$RIXJNLU0KbJb.Z/La31oM.HxZ9ndOyCvwLtK0IAyrFNu/W49b7w3oZR0PqpTml/V.KyXH8s1HZ.DFJY2h595w/",
       "correct horsE", false, "hash"},
      {"$y$j75$8eFdd3fziC1PbEz2P98B..$XdAwDCexqzr7.amAPGmr6JDTLWW7idSTUdNAmV0wWJ6", unicode, true, "hash"},
      {"$2b$04$7z74x36q7dHiXg13/41LNO063SFsbrn5/lDDDEwk/zGwawVfCZutS", unicode, true, "hash"},
      {"$5$rounds=1000$0C2jvpZAqBQJZ3rO$xV7kgpivkRTAMfE/hLISd0s53J9WqpXLIADeuLxPPO9", unicode, true, "hash"},
      {"$7$CU..../....MK5MwcX5tV5QJWI2DDNvz1$IfBryKlZP7KCdAM6Mj3y4QRWz.JlPXNYEF3ojMvzftC", unicode, true,
       "hash"},
      // The crypt library would stop at the NUL, and "secret\0anything" pass for "secret".
      {"$y$j75$8eFdd3fziC1PbEz2P98B..$XdAwDCexqzr7.amAPGmr6JDTLWW7idSTUdNAmV0wWJ6", unicode + '\0' + "x",
       false, "hash"},
      {"$y$j75$8eFdd3fziC1PbEz2P98B..$XdAwDCexqzr7.amAPGmr6JDTLWW7idSTUdNAmV0wWJ6", std::string(600, 'a'),
       false, "hash"},
      {"D!c}aP5XXXXXXXXXXXXX", "abc", true, "encoded"},
      {"D!c}aP5XXXXXXXXXXXXX", "abd", false, "encoded"},
      {"I!R!c!u!u!\"!y!2!tqqq", "Pass w0r", true, "encoded"},
      {"", "", false, "unknown"},
      {"not a hash", "not a hash", false, "unknown"},
      {"*0", "", false, "unknown"},
      {"$y$", "secret1", false, "unknown"},
      // A setting without its hash, a hash cut short, a traditional salt alone.
      {"$y$j75$8eFdd3fziC1PbEz2P98B..", unicode, false, "unknown"},
      {"$6$Harbinex6$RIXJNLU0KbJb", "correct horse", false, "unknown"},
      {"ab", "secret1", false, "unknown"},
      {std::string("$y$j75$8eFdd3fziC1PbEz2P98B..\0", 30), unicode, false, "unknown"},
      {"Eab", "", false, "unknown"},  // too short for the reversible form
  };
  for (const auto& c : cases) {
    PasswordCheck check = CheckStoredPassword(c.plain, c.stored);
    EXPECT_EQ(check.matches, c.matches) << c.stored << " / " << c.plain;
    EXPECT_EQ(FormName(check.form), std::string(c.form)) << c.stored;
  }
}

TEST(PasswordHash, EveryEncodedPasswordStillChecks) {
  std::mt19937 engine(3);
  for (const char* plain : {"secret", "s3cr|t!", "~ ~ ~ ~", "123456789"}) {
    std::string stored = EncodePasswordWith(plain, engine);
    EXPECT_TRUE(CheckPassword(plain, stored)) << plain;
    EXPECT_FALSE(CheckPassword(std::string(plain) + " ", stored)) << plain;
  }
}

TEST(PasswordHash, TextsTheCryptLibraryCannotTakeGetNoHash) {
  EXPECT_FALSE(HashPassword(std::string("abc\0def", 7)).has_value());
  EXPECT_FALSE(HashPassword(std::string(512, 'a')).has_value());
  EXPECT_TRUE(HashPassword(std::string(511, 'a')).has_value());
}

}  // namespace
}  // namespace hx
