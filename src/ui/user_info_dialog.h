#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "users/profile_rules.h"
#include "users/user_profile.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace hx {

class Modals;

// "User Information": one profile's password (twice), directory and eight rights. Built from a profile
// line; the stored password is never shown: both password fields start empty, and for a profile that has a
// stored password, "(unchanged)" says that leaving both empty keeps it. OK checks the values and keeps the
// dialog open on a refusal; after OK the members hold what was entered.
class UserInfoDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinPassword = static_cast<int>(hx::kMinPassword);
  static constexpr int kMaxPassword = static_cast<int>(hx::kMaxPassword);
  static constexpr int kMaxName = 19;
  static constexpr int kDirectoryRoom = 48;  // characters of a path the directory field shows at least

  UserInfoDialog(const std::string& profileLine, Modals& modals, QWidget* parent = nullptr);

  void accept() override;

  // The profile as entered: the password in plain text when a new one was typed, empty when the stored one
  // is kept.
  UserProfile Entered() const;
  // After OK: both password fields were left empty, and the stored password stays.
  bool PasswordKept() const { return m_passwordKept; }

  std::string m_strName;
  std::string m_strPassword;
  std::string m_strPassword2;
  std::string m_strDir;
  std::string m_strOrigPassword;  // field 1 as it came, never shown
  std::array<bool, kRightCount> m_rights{};

  QLineEdit* name;
  QLineEdit* password;
  QLineEdit* password2;
  QLineEdit* dir;
  QPushButton* browse;
  std::array<QCheckBox*, kRightCount> rights{};

 private:
  // A typed password's rules; false after the refusal.
  bool CheckPassword(QLineEdit* field, const std::string& value);
  // A new profile comes with a blank password: there is nothing to keep, and OK needs one typed.
  bool HasStoredPassword() const;

  Modals& m_modals;
  bool m_passwordKept = false;
};

inline constexpr const char* kPasswordsDifferMessage = "Passwords do not match\r\nPlease re-enter passwords";

}  // namespace hx
