#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "users/user_profile.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace hx {

class Modals;

// "User Information": one profile's password (twice), directory and eight rights. Built from a profile
// line; both password fields start with the stored form, which counts as unchanged. OK checks the values
// and keeps the dialog open on a refusal; after OK the members hold what was entered.
class UserInfoDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinPassword = 6;
  static constexpr int kMaxPassword = 8;
  static constexpr int kMaxName = 19;
  static constexpr int kDirectoryRoom = 48;  // characters of a path the directory field shows at least

  UserInfoDialog(const std::string& profileLine, Modals& modals, QWidget* parent = nullptr);

  void accept() override;

  // The profile as entered, the password still in plain text when it was changed.
  UserProfile Entered() const;

  std::string m_strName;
  std::string m_strPassword;
  std::string m_strPassword2;
  std::string m_strDir;
  std::string m_strOrigPassword;
  std::array<bool, kRightCount> m_rights{};

  QLineEdit* name;
  QLineEdit* password;
  QLineEdit* password2;
  QLineEdit* dir;
  QPushButton* browse;
  std::array<QCheckBox*, kRightCount> rights{};

 private:
  bool CheckPassword(QLineEdit* field, const std::string& value);

  Modals& m_modals;
};

// "Password must be at least 6 characters long!" and "Password must be no more than 8 characters long!".
std::string PasswordTooShortMessage();
std::string PasswordTooLongMessage();
inline constexpr const char* kPasswordsDifferMessage = "Passwords do not match\r\nPlease re-enter passwords";

}  // namespace hx
