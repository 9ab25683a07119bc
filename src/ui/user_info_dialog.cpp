#include "ui/user_info_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/config_pages.h"
#include "ui/field_label.h"
#include "ui/modals.h"
#include "users/directory_rule.h"
#include "users/extract_field.h"

namespace hx {

UserInfoDialog::UserInfoDialog(const std::string& profileLine, Modals& modals, QWidget* parent)
    : QDialog(parent),
      name(new QLineEdit(this)),
      password(new QLineEdit(this)),
      password2(new QLineEdit(this)),
      dir(new QLineEdit(this)),
      browse(new QPushButton("&Browse", this)),
      m_modals(modals) {
  setWindowTitle("User Information");
  UserProfile profile = ParseUserProfile(profileLine);
  m_strName = profile.name;
  m_strOrigPassword = ExtractField(profileLine, kProfileSeparator, 1);
  m_strDir = profile.directory;
  m_rights = profile.rights;

  name->setObjectName("name");
  name->setReadOnly(true);
  name->setMaxLength(kMaxName);
  name->setText(QString::fromStdString(m_strName));
  for (QLineEdit* field : {password, password2}) {
    field->setEchoMode(QLineEdit::Password);
    if (HasStoredPassword()) field->setPlaceholderText("(unchanged)");
  }
  password->setObjectName("password");
  password2->setObjectName("password2");
  dir->setObjectName("dir");
  dir->setText(QString::fromStdString(m_strDir));
  // The form would give the field only what its labels leave over; a path needs room to be read.
  dir->setMinimumWidth(kDirectoryRoom * dir->fontMetrics().averageCharWidth());
  browse->setObjectName("browse");
  connect(browse, &QPushButton::clicked, this, [this] { BrowseForDirectory(dir, m_modals, this); });

  auto* fields = new QFormLayout;
  fields->addRow("User &Name:", name);
  fields->addRow("User Pass&word (6-128 chars) :", password);
  fields->addRow("Repeat &password to verify (6-128 chars) :", password2);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(dir, 1);
  dirRow->addWidget(browse);
  fields->addRow(FieldLabel("Upload/Download d&irectory:", dir, this), dirRow);

  static const char* const kRightTexts[kRightCount] = {
      "&Login",        "&Upload",       "&Download",         "&Overwrite Files",
      "&Rename Files", "Delete &Files", "&Make Directories", "R&emove Directories"};
  auto* group = new QGroupBox(" This user can: ", this);
  auto* grid = new QGridLayout(group);
  for (int i = 0; i < kRightCount; ++i) {
    rights[i] = new QCheckBox(kRightTexts[i], group);
    rights[i]->setObjectName(QString("right%1").arg(i));
    rights[i]->setChecked(m_rights[i]);
    grid->addWidget(rights[i], i % 4, i / 4);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &UserInfoDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &UserInfoDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

bool UserInfoDialog::CheckPassword(QLineEdit* field, const std::string& value) {
  std::optional<std::string> refusal = CheckNewPassword(value);
  if (!refusal) return true;
  m_modals.Message(this, *refusal);
  field->setFocus();
  return false;
}

bool UserInfoDialog::HasStoredPassword() const {
  return m_strOrigPassword.find_first_not_of(' ') != std::string::npos;
}

void UserInfoDialog::accept() {
  std::string enteredName = name->text().left(kMaxName).toStdString();
  std::string entered = password->text().toStdString();
  std::string entered2 = password2->text().toStdString();
  const bool kept = HasStoredPassword() && entered.empty() && entered2.empty();
  if (!kept) {
    // A field left empty beside a typed one stands for the stored password, which is no match for it.
    for (auto [field, value] : {std::pair{password, &entered}, std::pair{password2, &entered2}}) {
      if (value->empty() && HasStoredPassword()) continue;
      if (!CheckPassword(field, *value)) return;
    }
    if (entered != entered2) {
      m_modals.Message(this, kPasswordsDifferMessage);
      password->setFocus();
      return;
    }
  }
  // Stored as the server takes it: absolute, without "." or ".." parts.
  std::string enteredDir = NormalProfileDirectory(dir->text().toStdString());
  if (!ValidateDirectory(enteredDir, dir, m_modals, this)) return;

  m_strName = enteredName;
  m_strPassword = entered;
  m_strPassword2 = entered2;
  m_passwordKept = kept;
  m_strDir = enteredDir;
  for (int i = 0; i < kRightCount; ++i) m_rights[i] = rights[i]->isChecked();
  QDialog::accept();
}

UserProfile UserInfoDialog::Entered() const {
  UserProfile profile;
  profile.name = m_strName;
  profile.password = m_strPassword;
  profile.directory = m_strDir;
  profile.rights = m_rights;
  return profile;
}

}  // namespace hx
