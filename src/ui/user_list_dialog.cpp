#include "ui/user_list_dialog.h"

#include <QComboBox>
#include <QCompleter>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/private_directory.h"
#include "app/server_app.h"
#include "ui/field_label.h"
#include "ui/modals.h"
#include "ui/user_info_dialog.h"
#include "users/extract_field.h"
#include "users/password_file.h"
#include "users/password_hash.h"
#include "users/profile_rules.h"

namespace hx {
namespace {

// The list and the box show names in ascending order, ignoring letter case first.
bool NameBefore(const QString& a, const QString& b) {
  int folded = QString::compare(a, b, Qt::CaseInsensitive);
  return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

}  // namespace

UserListDialog::UserListDialog(UserDialogContext context, QWidget* parent)
    : QDialog(parent),
      m_context(std::move(context)),
      m_runInfo([](UserInfoDialog& dialog) { return dialog.exec() == QDialog::Accepted; }),
      m_list(new QTreeWidget(this)),
      m_name(new QComboBox(this)) {
  setWindowTitle("User List");
  m_list->setObjectName("users");
  m_list->setColumnCount(1);
  m_list->setHeaderLabels({"User Names"});
  m_list->setColumnWidth(0, 100);
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setUniformRowHeights(true);
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, &UserListDialog::OnRowSelected);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, &UserListDialog::OnEditUser);
  m_list->installEventFilter(this);
  m_name->setObjectName("name");
  m_name->setEditable(true);
  m_name->setInsertPolicy(QComboBox::NoInsert);
  // Names are case-sensitive: the box's own completer ignores case, and on leaving the box it would replace
  // "ALICE" with the stored "alice", so that Delete User aimed at another user than the one typed.
  m_name->completer()->setCaseSensitivity(Qt::CaseSensitive);
  m_name->lineEdit()->installEventFilter(this);

  auto* add = new QPushButton("&Add User", this);
  auto* edit = new QPushButton("&Edit User", this);
  auto* remove = new QPushButton("&Delete User", this);
  auto* done = new QPushButton("D&one", this);
  done->setDefault(true);
  connect(add, &QPushButton::clicked, this, &UserListDialog::OnAddUser);
  connect(edit, &QPushButton::clicked, this, &UserListDialog::OnEditUser);
  connect(remove, &QPushButton::clicked, this, &UserListDialog::OnDeleteUser);
  connect(done, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {add, edit, remove}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(done);
  auto* top = new QHBoxLayout;
  top->addWidget(m_list, 1);
  top->addLayout(buttons);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(FieldLabel("&User Name:", m_name, this));
  nameRow->addWidget(m_name, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(nameRow);
  Refresh();
}

void UserListDialog::Refresh() {
  PasswordFile file(m_context.appDir, m_context.frontend);
  std::vector<std::string> names;
  file.GetUserNames(names);
  QStringList sorted;
  for (const std::string& name : names) sorted << QString::fromStdString(name);
  std::stable_sort(sorted.begin(), sorted.end(), NameBefore);

  QString typed = m_name->currentText();
  m_list->clear();
  for (const QString& name : sorted) new QTreeWidgetItem(m_list, QStringList{name});
  m_name->clear();
  m_name->addItems(sorted);
  m_name->setCurrentIndex(-1);
  m_name->setEditText(typed);
}

void UserListDialog::OnRowSelected() {
  QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  if (selected.isEmpty()) return;
  int match = m_name->findText(selected.front()->text(0), Qt::MatchFixedString | Qt::MatchCaseSensitive);
  if (match >= 0) m_name->setCurrentIndex(match);
}

bool UserListDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  int key = static_cast<QKeyEvent*>(event)->key();
  // Enter in the name box adds the typed name, rather than pressing Done.
  if (watched == m_name->lineEdit() && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
    OnAddUser();
    return true;
  }
  if (watched == m_list && !m_list->selectedItems().isEmpty()) {
    if (key == Qt::Key_Delete) {
      OnDeleteUser();
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      OnEditUser();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

std::string UserListDialog::TypedName() const {
  return m_name->currentText().toStdString();
}

bool UserListDialog::Listed(const std::string& name) const {
  QString wanted = QString::fromStdString(name);
  for (int i = 0; i < m_list->topLevelItemCount(); ++i)
    if (m_list->topLevelItem(i)->text(0) == wanted) return true;
  return false;
}

void UserListDialog::OnAddUser() {
  std::string name = TypedName();
  if (name.empty()) {
    m_context.modals.Message(this, NoUserNameMessage());
    return;
  }
  if (Listed(name)) {
    m_context.modals.Message(this, UserExistsMessage(name));
    return;
  }
  // A name too long for the server's check, or with a "|" or a control character that would break the line
  // format of the password file, is refused, never cut.
  if (auto refusal = CheckNewUserName(name)) {
    m_context.modals.Message(this, *refusal);
    return;
  }
  std::optional<std::string> temp = PrivateTransferDirectory();
  if (!temp) {
    m_context.modals.Message(this, "Failed getting pathname of upload Directory!");
    return;
  }
  std::string dir = cfg::ReadOr(m_context.config, cfg::kFDLDir, *temp);
  // A new user: no password (so OK refuses it until one is typed), the anonymous directory, and the rights to
  // log in, upload and download.
  std::string initial = name + "||" + "||" + dir + "||" + "1||1||1||" + "0||0||0||0||" + "0";
  UserInfoDialog info(initial, m_context.modals, this);
  if (!m_runInfo(info)) return;
  UserProfile profile = info.Entered();
  profile.name = name;
  if (!HashEntered(profile)) return;
  PasswordFile file(m_context.appDir, m_context.frontend);
  // Another writer may have added the name while this dialog was open; a failed save has been reported.
  if (!file.Add(FormatUserProfile(profile)) && !file.Find(name).empty())
    m_context.modals.Message(this, UserExistsMessage(name));
  Refresh();
  m_name->setEditText(QString::fromStdString(name));
}

void UserListDialog::OnEditUser() {
  std::string name = TypedName();
  if (name.empty()) {
    m_context.modals.Message(this, NoUserNameMessage());
    return;
  }
  if (!Listed(name)) {
    m_context.modals.Message(this, EditUserNotFoundMessage(name));
    return;
  }
  std::string line = PasswordFile(m_context.appDir, m_context.frontend).Find(name);
  if (line.empty()) {
    m_context.modals.Message(this, "This user name was not found in the password file");
    return;
  }
  UserInfoDialog info(line, m_context.modals, this);
  if (!m_runInfo(info)) return;
  UserProfile profile = info.Entered();
  profile.name = name;
  PasswordFile file(m_context.appDir, m_context.frontend);
  if (info.PasswordKept()) {
    // The stored password stays byte for byte, as it is in the file now: a login may have replaced an old
    // form by its hash while the dialog was open.
    std::string current = file.Find(name);
    profile.password = ExtractField(current.empty() ? line : current, kProfileSeparator, 1);
  } else if (!HashEntered(profile)) {
    return;
  }
  file.Replace(name, FormatUserProfile(profile));
  Refresh();
  m_name->setEditText(QString::fromStdString(name));
}

bool UserListDialog::HashEntered(UserProfile& profile) {
  std::optional<std::string> hash = HashPassword(profile.password);
  if (!hash) {
    m_context.modals.Message(this, "The password could not be hashed");
    return false;
  }
  profile.password = std::move(*hash);
  return true;
}

void UserListDialog::OnDeleteUser() {
  std::string name = TypedName();
  if (name.empty()) {
    m_context.modals.Message(this, NoUserNameMessage());
    return;
  }
  if (!Listed(name)) {
    m_context.modals.Message(this, DeleteUserNotFoundMessage(name));
    return;
  }
  if (!m_context.modals.Question(
          this, "This will permanently delete the user " + name + "!\r\nAre you sure you want to do this?"))
    return;
  PasswordFile file(m_context.appDir, m_context.frontend);
  file.Remove(name);
  Refresh();
  m_name->clearEditText();
}

}  // namespace hx
