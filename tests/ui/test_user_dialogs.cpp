// The user dialogs: the rules of "User Information" and the Add, Edit and Delete of "User List".
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ui/user_info_dialog.h"
#include "ui/user_list_dialog.h"
#include "ui_fixture.h"
#include "ui_tests.h"
#include "users/extract_field.h"
#include "users/password_codec.h"
#include "users/password_file.h"
#include "users/password_hash.h"

namespace hx::test {
namespace {

struct UsersFixture {
  UsersFixture() {
    frontend = std::make_unique<WindowFrontend>(modals);
    config = std::make_unique<ConfigStore>(Dir() + "Harbinex.ini");
    config->WriteProfileString(cfg::kFtp, cfg::kFDLDir.key, Dir());
    list = std::make_unique<UserListDialog>(UserDialogContext{*config, modals, *frontend, Dir()});
    // The "User Information" dialog is filled in by the test instead of by a person.
    list->SetInfoRunner([this](UserInfoDialog& info) {
      shownProfile = info.m_strName + "|" + info.m_strOrigPassword + "|" + info.m_strDir;
      if (!fill) return false;
      fill(info);
      info.accept();
      return info.result() == QDialog::Accepted;
    });
  }
  std::string Dir() const { return dir.path().toStdString() + "/"; }
  std::vector<std::string> FileNames() {
    std::vector<std::string> names;
    PasswordFile(Dir(), *frontend).GetUserNames(names);
    return names;
  }
  void Type(const QString& name) { list->NameBox()->setEditText(name); }
  static std::function<void(UserInfoDialog&)> Password(const QString& pw) {
    return [pw](UserInfoDialog& info) {
      info.password->setText(pw);
      info.password2->setText(pw);
    };
  }

  QTemporaryDir dir;
  RecordingModals modals;
  std::unique_ptr<WindowFrontend> frontend;
  std::unique_ptr<ConfigStore> config;
  std::unique_ptr<UserListDialog> list;
  std::function<void(UserInfoDialog&)> fill;
  std::string shownProfile;
};

std::string Profile(const std::string& name, const std::string& stored, const std::string& dir) {
  return name + "||" + stored + "||" + dir + "||1||0||1||0||0||0||0||1";
}

}  // namespace

class UserDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void passwordRules_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeated");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("empty") << ""
                           << "" << QString::fromStdString(PasswordTooShortMessage());
    QTest::newRow("five") << "abcde"
                          << "abcde" << QString::fromStdString(PasswordTooShortMessage());
    QTest::newRow("six") << "abcdef"
                         << "abcdef"
                         << "";
    QTest::newRow("nine") << "abcdefghi"
                          << "abcdefghi"
                          << "";
    QTest::newRow("128") << QString(128, 'x') << QString(128, 'x') << "";
    QTest::newRow("129") << QString(129, 'x') << QString(129, 'x')
                         << QString::fromStdString(PasswordTooLongMessage());
    QTest::newRow("UTF-8") << QString::fromUtf8("p\xc3\xa4ss w\xc3\xb6rd \xe2\x98\x83")
                           << QString::fromUtf8("p\xc3\xa4ss w\xc3\xb6rd \xe2\x98\x83") << "";
    QTest::newRow("repeat short") << "abcdef"
                                  << "abc" << QString::fromStdString(PasswordTooShortMessage());
    QTest::newRow("only one changed") << "abcdefg"
                                      << "abcdefh" << QString(kPasswordsDifferMessage);
    QTest::newRow("control character")
        << QString("abc\tdef") << QString("abc\tdef") << "Password may only hold printable characters";
  }

  void passwordRules() {
    QFETCH(QString, password);
    QFETCH(QString, repeated);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    RecordingModals modals;
    std::string home = dir.path().toStdString() + "/";
    UserInfoDialog info(Profile("bob", " ", home), modals);
    QCOMPARE(info.windowTitle(), QString("User Information"));
    info.password->setText(password);
    info.password2->setText(repeated);
    info.accept();
    if (refusal.isEmpty()) {
      QVERIFY(modals.Messages().empty());
      QCOMPARE(info.result(), int(QDialog::Accepted));
      QCOMPARE(info.m_strPassword, password.toStdString());
    } else {
      QCOMPARE(modals.Messages(), std::vector<std::string>{refusal.toStdString()});
      QVERIFY(info.result() != QDialog::Accepted);
    }
  }

  void storedPasswordIsNeverShownAndDirectoryChecked() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string stored = HashPassword("secret1").value();
    std::string home = dir.path().toStdString();  // without the separator
    UserInfoDialog info(Profile("ann", stored, home), modals);
    auto* form = info.findChild<QFormLayout*>();
    QVERIFY(form != nullptr);
    for (auto [field, label] : {std::pair{info.password, "User Pass&word (6-128 chars) :"},
                                std::pair{info.password2, "Repeat &password to verify (6-128 chars) :"}}) {
      QVERIFY(field->text().isEmpty());
      QCOMPARE(field->placeholderText(), QString("(unchanged)"));
      auto* shown = qobject_cast<QLabel*>(form->labelForField(field));
      QVERIFY(shown != nullptr);
      QCOMPARE(shown->text(), QString(label));
    }
    QVERIFY(info.rights[0]->isChecked() && !info.rights[1]->isChecked() && info.rights[7]->isChecked());
    info.accept();
    QVERIFY(modals.Messages().empty());
    QVERIFY(info.PasswordKept());
    QCOMPARE(info.m_strDir, home + "/");
    UserInfoDialog missing(Profile("ann", stored, home + "/nowhere"), modals);
    missing.accept();
    QCOMPARE(modals.Messages(),
             std::vector<std::string>{"The directory " + home +
                                      "/nowhere/ does not exist!\r\rPlease choose a valid directory"});
    // A new profile has no password to keep: it starts without the placeholder, and OK needs one.
    UserInfoDialog fresh(Profile("new", " ", home), modals);
    QVERIFY(fresh.password->placeholderText().isEmpty());
  }

  void oneFieldTypedBesideAStoredPasswordDiffers() {
    QTemporaryDir dir;
    RecordingModals modals;
    UserInfoDialog info(Profile("ann", HashPassword("secret1").value(), dir.path().toStdString()), modals);
    info.password2->setText("newpass1");
    info.accept();
    QCOMPARE(modals.Messages(), std::vector<std::string>{kPasswordsDifferMessage});
    QVERIFY(info.result() != QDialog::Accepted);
  }

  void directoryFieldShowsAPathWhole() {
    QTemporaryDir dir;
    RecordingModals modals;
    const QString path = "/home/operator/harbinex/transfers/incoming/";
    UserInfoDialog info(Profile("ann", " ", path.toStdString()), modals);
    info.show();
    QVERIFY(QTest::qWaitForWindowExposed(&info));
    QVERIFY(info.dir->width() > info.dir->fontMetrics().horizontalAdvance(path));
  }

  void directoryIsStoredAbsoluteAndNormal() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string home = dir.path().toStdString();
    QVERIFY(std::filesystem::create_directory(home + "/sub"));
    UserInfoDialog info(Profile("ann", HashPassword("secret1").value(), home + "/sub/../."), modals);
    info.accept();
    QVERIFY(modals.Messages().empty());
    QCOMPARE(info.m_strDir, home + "/");
  }

  void addUserRules() {
    UsersFixture f;
    QCOMPARE(f.list->windowTitle(), QString("User List"));
    f.list->OnAddUser();
    QCOMPARE(
        f.modals.Messages().back(),
        std::string("No user name specified!\r\nPlease specify a username in the \"User Name:\" box below"));
    // A new user starts without a password, with the anonymous directory, and login, upload, download.
    f.Type("bob");
    f.fill = UsersFixture::Password("bobpass");
    f.list->OnAddUser();
    QCOMPARE(f.shownProfile, "bob||" + f.Dir());
    std::string line = PasswordFile(f.Dir(), *f.frontend).Find("bob");
    QVERIFY(ExtractField(line, "||", 1).starts_with("$y$"));
    QVERIFY(CheckPassword("bobpass", ExtractField(line, "||", 1)));
    std::string rights;
    for (int field = 3; field <= 10; ++field) rights += ExtractField(line, "||", field);
    QCOMPARE(rights, std::string("11100000"));
    QCOMPARE(ExtractField(line, "||", 2), f.Dir());
    QCOMPARE(f.list->NameBox()->currentText(), QString("bob"));
    QCOMPARE(f.list->List()->topLevelItemCount(), 1);

    f.modals.Clear();
    f.list->OnAddUser();
    QCOMPARE(f.modals.Messages(),
             std::vector<std::string>{"The user bob already exists!\r\nPlease specify a NEW user name"});
    // Letter case makes another user.
    f.Type("Bob");
    f.list->OnAddUser();
    QCOMPARE(f.FileNames(), (std::vector<std::string>{"bob", "Bob"}));
    // OK without a password is refused inside the dialog; Cancel adds nothing.
    f.Type("carl");
    f.modals.Clear();
    f.fill = [](UserInfoDialog&) {};
    f.list->OnAddUser();
    QCOMPARE(f.modals.Messages(), std::vector<std::string>{PasswordTooShortMessage()});
    QCOMPARE(f.FileNames().size(), size_t{2});
    // A name longer than a user name may be is refused with the limit, never cut.
    f.Type("abcdefghijklmnopqrst");
    f.fill = UsersFixture::Password("longname");
    f.modals.Clear();
    f.list->OnAddUser();
    QCOMPARE(f.modals.Messages(),
             std::vector<std::string>{"User name must be no more than 19 characters long!"});
    QCOMPARE(f.FileNames().size(), size_t{2});
    f.Type("abcdefghijklmnopqrs");
    f.list->OnAddUser();
    QCOMPARE(f.FileNames().back(), std::string("abcdefghijklmnopqrs"));
    // A name that would break the file's format is refused.
    f.Type("a||b");
    f.modals.Clear();
    f.list->OnAddUser();
    QCOMPARE(f.modals.Messages(),
             std::vector<std::string>{"User name may not contain \"|\" or control characters"});
  }

  void listOrdersAndSelectionFillsTheBox() {
    UsersFixture f;
    f.fill = UsersFixture::Password("passwd");
    for (const char* name : {"mia", "Al", "zed"}) {
      f.Type(name);
      f.list->OnAddUser();
    }
    QTreeWidget* list = f.list->List();
    QCOMPARE(list->headerItem()->text(0), QString("User Names"));
    QCOMPARE(list->topLevelItem(0)->text(0), QString("Al"));
    QCOMPARE(list->topLevelItem(2)->text(0), QString("zed"));
    QCOMPARE(f.list->NameBox()->itemText(0), QString("Al"));
    QCOMPARE(f.list->NameBox()->itemText(2), QString("zed"));
    list->topLevelItem(1)->setSelected(true);
    QCOMPARE(f.list->NameBox()->currentText(), QString("mia"));
  }

  void editKeepsTheStoredPasswordUnlessRetyped() {
    UsersFixture f;
    // A password file of an earlier version, with the reversible form.
    std::string stored = EncodePassword("keepme1");
    PasswordFile file(f.Dir(), *f.frontend);
    file.Add(Profile("ann", stored, f.Dir()));
    f.list.reset(new UserListDialog(UserDialogContext{*f.config, f.modals, *f.frontend, f.Dir()}));
    f.list->SetInfoRunner([&](UserInfoDialog& info) {
      if (f.fill) f.fill(info);
      info.accept();
      return info.result() == QDialog::Accepted;
    });
    f.Type("ann");
    f.fill = [](UserInfoDialog& info) { info.rights[5]->setChecked(true); };
    f.list->OnEditUser();
    std::string line = PasswordFile(f.Dir(), *f.frontend).Find("ann");
    QCOMPARE(ExtractField(line, "||", 1), stored);
    QCOMPARE(ExtractField(line, "||", 8), std::string("1"));
    // A login that replaces the old form by its hash while the dialog is open keeps its hash.
    std::string hash = HashPassword("keepme1").value();
    f.fill = [&](UserInfoDialog& info) {
      PasswordFile(f.Dir(), *f.frontend).ReplacePassword("ann", stored, hash);
      info.rights[6]->setChecked(true);
    };
    f.list->OnEditUser();
    line = PasswordFile(f.Dir(), *f.frontend).Find("ann");
    QCOMPARE(ExtractField(line, "||", 1), hash);
    QCOMPARE(ExtractField(line, "||", 9), std::string("1"));
    // A password typed in both fields is stored as a fresh hash, even the same one again.
    f.fill = UsersFixture::Password("keepme1");
    f.list->OnEditUser();
    std::string retyped = ExtractField(PasswordFile(f.Dir(), *f.frontend).Find("ann"), "||", 1);
    QVERIFY(retyped.starts_with("$y$"));
    QVERIFY(retyped != hash);
    QVERIFY(CheckPassword("keepme1", retyped));
    f.Type("nobody");
    f.list->OnEditUser();
    QCOMPARE(
        f.modals.Messages().back(),
        std::string("The user name nobody was not found!\r\nEnter the name of an existing user in the \"User "
                    "Name:\" box below"));
  }

  void deleteAsksFirst() {
    UsersFixture f;
    f.fill = UsersFixture::Password("passwd");
    f.Type("gone");
    f.list->OnAddUser();
    f.Type("ghost");
    f.list->OnDeleteUser();
    QCOMPARE(f.modals.Messages().back(),
             std::string("The user ghost was not found!\r\nPlease specify a existing user name"));
    f.Type("gone");
    f.modals.answers = {false};
    f.list->OnDeleteUser();
    QCOMPARE(f.modals.questions.back(),
             std::string("This will permanently delete the user gone!\r\nAre you sure you want to do this?"));
    QCOMPARE(f.FileNames(), std::vector<std::string>{"gone"});
    f.modals.answers = {true};
    f.list->OnDeleteUser();
    QVERIFY(f.FileNames().empty());
    QCOMPARE(f.list->List()->topLevelItemCount(), 0);
    QCOMPARE(f.list->NameBox()->count(), 0);
  }

  // Typed as a person types it, after a click into each field, the new user's password logs in at the
  // window's own FTP server.
  void aNewUsersTypedPasswordLogsInOverFtp() {
    WindowFixture::Options o;
    o.realServices = true;
    o.ini = "[TFTP]\r\nTPort=0\r\n[FTP]\r\nFPort=0\r\nFDataPort=0\r\n";
    WindowFixture f(o);
    QVERIFY(f.app->FtpPort());
    UserListDialog list(UserDialogContext{f.Config(), f.modals, *f.frontend, f.Dir()});
    list.SetInfoRunner([](UserInfoDialog& info) {
      info.show();
      for (QLineEdit* field : {info.password, info.password2}) {
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClicks(field, "secret1");
      }
      info.accept();
      return info.result() == QDialog::Accepted;
    });
    list.NameBox()->setEditText("carol");
    list.OnAddUser();
    QVERIFY(f.modals.Messages().empty());
    const char* login =
        "import ftplib, sys\n"
        "ftp = ftplib.FTP()\n"
        "ftp.connect('127.0.0.1', int(sys.argv[1]), timeout=30)\n"
        "print(ftp.login(sys.argv[2], sys.argv[3]))\n"
        "ftp.quit()\n";
    QProcess python;
    python.start("python3", {"-c", login, QString::number(*f.app->FtpPort()), "carol", "secret1"});
    QVERIFY2(python.waitForStarted(30000), "python3 (the FTP client of this test) was not found");
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    QVERIFY(python.readAllStandardOutput().startsWith("230"));
  }

  // Enter in the name box adds; a double-click or Enter on a row edits it; Delete deletes after the question.
  void keysAndDoubleClickActOnTheList() {
    UsersFixture f;
    f.fill = UsersFixture::Password("passwd");
    f.list->show();
    f.list->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.list.get()));
    QLineEdit* box = f.list->NameBox()->lineEdit();
    for (const char* name : {"amy", "bo"}) {
      box->setFocus();
      box->clear();
      QTest::keyClicks(box, name);
      QTest::keyClick(box, Qt::Key_Return);
    }
    QCOMPARE(f.FileNames(), (std::vector<std::string>{"amy", "bo"}));
    QVERIFY(f.list->isVisible());
    QTreeWidget* list = f.list->List();
    const struct Action {
      int row;
      std::function<void()> act;
      std::string edited;  // the profile the dialog showed
    } edits[] = {
        {1,
         [&] {
           QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
           QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
           QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
         },
         "bo|"},
        {0, [&] { QTest::keyClick(list, Qt::Key_Return); }, "amy|"},
    };
    for (const Action& action : edits) {
      list->setFocus();
      list->setCurrentItem(list->topLevelItem(action.row));
      f.shownProfile.clear();
      action.act();
      QVERIFY2(f.shownProfile.starts_with(action.edited), (action.edited + " got " + f.shownProfile).c_str());
    }
    list->setCurrentItem(list->topLevelItem(1));
    f.modals.answers = {true};
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(f.modals.questions.back(),
             std::string("This will permanently delete the user bo!\r\nAre you sure you want to do this?"));
    QCOMPARE(f.FileNames(), std::vector<std::string>{"amy"});
    QVERIFY(f.list->isVisible());
  }

  // The name is typed into the box and the focus leaves it, as a person would before pressing a button.
  void typedNamesKeepTheirCase() {
    UsersFixture f;
    f.fill = UsersFixture::Password("passwd");
    for (const char* name : {"alice", "bob"}) {
      f.Type(name);
      f.list->OnAddUser();
    }
    f.list->show();
    f.list->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.list.get()));
    auto typeAndLeave = [&](const QString& name) {
      QLineEdit* edit = f.list->NameBox()->lineEdit();
      edit->setFocus();
      edit->clear();
      QTest::keyClicks(edit, name);
      f.list->List()->setFocus();
      QCOMPARE(f.list->NameBox()->currentText(), name);
    };
    typeAndLeave("ALICE");
    f.modals.Clear();
    f.list->OnDeleteUser();
    QCOMPARE(
        f.modals.Messages(),
        std::vector<std::string>{"The user ALICE was not found!\r\nPlease specify a existing user name"});
    QVERIFY(f.modals.questions.empty());
    typeAndLeave("Bob");
    f.list->OnAddUser();
    QCOMPARE(f.FileNames(), (std::vector<std::string>{"alice", "bob", "Bob"}));
    // After a deletion the box is empty, so that no second press can aim at a name that has gone.
    typeAndLeave("bob");
    f.list->OnDeleteUser();
    QCOMPARE(f.FileNames(), (std::vector<std::string>{"alice", "Bob"}));
    QCOMPARE(f.list->NameBox()->currentText(), QString());
  }
};

}  // namespace hx::test

int RunUserDialogTests(int argc, char** argv) {
  hx::test::UserDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_user_dialogs.moc"
