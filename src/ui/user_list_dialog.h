#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QComboBox;
class QPushButton;
class QTreeWidget;

namespace hx {

class ConfigStore;
class Frontend;
class Modals;
class UserInfoDialog;
struct UserProfile;

struct UserDialogContext {
  ConfigStore& config;
  Modals& modals;
  Frontend& frontend;  // the password file reports its failures here
  std::string appDir;
};

// "User List": the user names of the password file, and Add, Edit and Delete for the name in the "User
// Name:" box. Every change is one read-modify-write of the password file, made at once. Enter in the box
// adds its name; on a selected row, Enter and a double-click edit, and Delete deletes after the question.
class UserListDialog : public QDialog {
  Q_OBJECT

 public:
  // Runs the "User Information" dialog; true for OK. Tests replace it to fill the dialog in.
  using InfoRunner = std::function<bool(UserInfoDialog&)>;

  UserListDialog(UserDialogContext context, QWidget* parent = nullptr);

  void SetInfoRunner(InfoRunner runner) { m_runInfo = std::move(runner); }

  void OnAddUser();
  void OnEditUser();
  void OnDeleteUser();

  QTreeWidget* List() const { return m_list; }
  QComboBox* NameBox() const { return m_name; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refresh();
  void OnRowSelected();
  std::string TypedName() const;
  bool Listed(const std::string& name) const;
  // Replaces the entered plain password by its hash; false after the message when none could be made.
  bool HashEntered(UserProfile& profile);

  UserDialogContext m_context;
  InfoRunner m_runInfo;
  QTreeWidget* m_list;
  QComboBox* m_name;
};

}  // namespace hx
