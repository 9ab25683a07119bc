// The configuration sheet: pages, ranges, the directory rule, writing on OK only.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/transfer_log.h"
#include "tls/server_tls.h"
#include "ui/config_pages.h"
#include "ui/config_sheet.h"
#include "ui/ftp_tls_box.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

const std::string kRangeTimeout = "Please enter an integer between 2 and 15.";
const std::string kRangeRetries = "Please enter an integer between 5 and 20.";

struct SheetFixture {
  // With `serverTls`, TLS is loaded first (a certificate made when missing) and the sheet logs to the log
  // file.
  explicit SheetFixture(bool trayAvailable = true, const std::string& ini = "",
                        std::shared_ptr<tls::ServerTls> serverTls = nullptr) {
    if (!ini.empty()) WriteText(Dir() + "Harbinex.ini", ini);
    frontend = std::make_unique<WindowFrontend>(modals);
    config = std::make_unique<ConfigStore>(Dir() + "Harbinex.ini");
    log = std::make_unique<TransferLog>(Dir(), *config, *frontend);
    if (serverTls) {
      serverTls->Load(*config, Dir());
      log->EnableLogging();
    }
    sheet = std::make_unique<ConfigSheet>(
        SheetContext{*config, modals, *frontend, Dir(), trayAvailable, serverTls, log.get()});
    sheet->show();
  }
  std::string Dir() const { return dir.path().toStdString() + "/"; }
  // Shows the TFTP page and fills it with a valid directory and the given numbers.
  void FillTftp(const QString& retries, const QString& timeout) {
    sheet->Tabs()->setCurrentIndex(1);
    sheet->Tftp()->dir->setText(QString::fromStdString(Dir()));
    sheet->Tftp()->retries->setText(retries);
    sheet->Tftp()->timeout->setText(timeout);
  }

  QTemporaryDir dir;
  RecordingModals modals;
  std::unique_ptr<WindowFrontend> frontend;
  std::unique_ptr<ConfigStore> config;
  std::unique_ptr<TransferLog> log;
  std::unique_ptr<ConfigSheet> sheet;
};

}  // namespace

class ConfigSheetTest : public QObject {
  Q_OBJECT

 private slots:
  void pagesInTheirOrder() {
    SheetFixture f;
    QCOMPARE(f.sheet->windowTitle(), QString("Harbinex Configuration"));
    QCOMPARE(f.sheet->Tabs()->count(), 3);
    QCOMPARE(f.sheet->Tabs()->tabText(0), QString("General Configuration"));
    QCOMPARE(f.sheet->Tabs()->tabText(1), QString("TFTP Configuration"));
    QCOMPARE(f.sheet->Tabs()->tabText(2), QString("FTP Configuration"));
    QCOMPARE(f.sheet->Tabs()->currentIndex(), 0);
    QCOMPARE(f.sheet->General()->systemTray->text(), QString("&Iconize program to System Tray?"));
    QCOMPARE(f.sheet->General()->quorin->text(), QString("Allow this program to boot &Quorins?"));
    QCOMPARE(f.sheet->General()->quorin->toolTip(),
             QString("1 answers before the data has gone: a cut transfer then looks complete"));
    QCOMPARE(f.sheet->Tftp()->browse->text(), QString("&Browse Directories"));
    QCOMPARE(f.sheet->Ftp()->anonAllowed->text(), QString("&Allow anonymous access?   "));
    QCOMPARE(f.sheet->Ftp()->editUsers->text(), QString("  &Edit User Profile / Security List  "));
    auto* note = f.sheet->Ftp()->findChild<QLabel*>("note");
    QVERIFY(note);
    QCOMPARE(note->text().split('\n').size(), 4);
    QVERIFY(note->text().startsWith("To allow additional rights for \"anonymous\""));
  }

  void numbersMustBeInRange_data() {
    QTest::addColumn<QString>("retries");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<QString>("refusal");  // empty: accepted
    QTest::newRow("timeout 1") << "5"
                               << "1" << QString::fromStdString(kRangeTimeout);
    QTest::newRow("timeout 16") << "5"
                                << "16" << QString::fromStdString(kRangeTimeout);
    QTest::newRow("timeout 2") << "5"
                               << "2"
                               << "";
    QTest::newRow("timeout 15") << "5"
                                << "15"
                                << "";
    QTest::newRow("retries 4") << "4"
                               << "5" << QString::fromStdString(kRangeRetries);
    QTest::newRow("retries 21") << "21"
                                << "5" << QString::fromStdString(kRangeRetries);
    QTest::newRow("retries 20") << "20"
                                << "5"
                                << "";
    QTest::newRow("retries empty") << ""
                                   << "5"
                                   << "Please enter an integer.";
    QTest::newRow("retries before timeout") << "4"
                                            << "1" << QString::fromStdString(kRangeRetries);
  }

  void numbersMustBeInRange() {
    QFETCH(QString, retries);
    QFETCH(QString, timeout);
    QFETCH(QString, refusal);
    SheetFixture f;
    f.FillTftp(retries, timeout);
    f.sheet->accept();
    if (refusal.isEmpty()) {
      QVERIFY(f.modals.Messages().empty());
      QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
      QCOMPARE(f.config->GetProfileInt(cfg::kTftp, cfg::kTRetries.key, -1), retries.toInt());
      QCOMPARE(f.config->GetProfileInt(cfg::kTftp, cfg::kTTimeout.key, -1), timeout.toInt());
    } else {
      QCOMPARE(f.modals.Messages(), std::vector<std::string>{refusal.toStdString()});
      QVERIFY(f.sheet->isVisible());
      QVERIFY(!std::filesystem::exists(f.Dir() + "Harbinex.ini"));
    }
  }

  void directoryRule() {
    SheetFixture f;
    std::string file = f.Dir() + "plain.txt";
    WriteText(file, "x");
    struct Case {
      std::string typed;
      std::string refusal;
    } cases[] = {
        {f.Dir() + "missing",
         "The directory " + f.Dir() + "missing/ does not exist!\r\rPlease choose a valid directory"},
        {file, file + "/ exists, but is not a directory!\r\rPlease choose a valid directory name\r"},
        {"/proc/",
         "Could not write to the directory you specified\r\rPossible Causes:\r\r 1) The directory or disk is "
         "write-protected \r 2) The directory is on a CD-ROM \r 3) This is a Network directory, and you do "
         "not have sufficient rights\r \r Please select a different directory...."},
    };
    f.sheet->Tabs()->setCurrentIndex(2);
    for (const Case& c : cases) {
      f.modals.Clear();
      f.sheet->Ftp()->dir->setText(QString::fromStdString(c.typed));
      QVERIFY(!f.sheet->Ftp()->TakeBack());
      QCOMPARE(f.modals.Messages(), std::vector<std::string>{c.refusal});
    }
    // A directory typed without a trailing separator is stored with one, and the probe leaves nothing behind.
    std::string sub = f.Dir() + "incoming";
    std::filesystem::create_directory(sub);
    f.sheet->Ftp()->dir->setText(QString::fromStdString(sub));
    f.modals.Clear();
    f.sheet->accept();
    QVERIFY(f.modals.Messages().empty());
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFDLDir.key), sub + "/");
    QVERIFY(std::filesystem::is_empty(sub));
    QCOMPARE(WithTrailingSeparator(""), std::string("/"));
  }

  void anEmptiedDirectoryIsRefused() {
    SheetFixture f;
    const std::vector<std::string> missing{
        "The directory  does not exist!\r\rPlease choose a valid directory"};
    f.FillTftp("5", "5");
    f.sheet->Tftp()->dir->clear();
    f.sheet->accept();
    QCOMPARE(f.modals.Messages(), missing);
    QVERIFY(!std::filesystem::exists(f.Dir() + "Harbinex.ini"));
    f.sheet->Tftp()->dir->setText(QString::fromStdString(f.Dir()));
    f.sheet->Tabs()->setCurrentIndex(2);
    f.sheet->Ftp()->dir->clear();
    f.modals.Clear();
    f.sheet->Tabs()->setCurrentIndex(0);
    QCOMPARE(f.modals.Messages(), missing);
    QCOMPARE(f.sheet->Tabs()->currentIndex(), 2);
  }

  void leavingARefusingPageKeepsItInFront() {
    SheetFixture f;
    f.FillTftp("5", "99");
    f.sheet->Tabs()->setCurrentIndex(2);
    QCOMPARE(f.sheet->Tabs()->currentIndex(), 1);
    QCOMPARE(f.modals.Messages(), std::vector<std::string>{kRangeTimeout});
    f.sheet->Tftp()->timeout->setText("9");
    f.sheet->Tabs()->setCurrentIndex(2);
    QCOMPARE(f.sheet->Tabs()->currentIndex(), 2);
    QVERIFY(f.sheet->Ftp()->Shown());
  }

  void okAtOnceWritesEveryKeyWithItsReadDefault() {
    SheetFixture f;
    f.sheet->accept();
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    struct Key {
      const char* section;
      const char* key;
      int value;
    } keys[] = {
        {"General", "SystemTray", 0},   {"General", "Quorin", 0},         {"General", "IPv6", 1},
        {"TFTP", "TMakeNewDirs", 1},    {"TFTP", "TOverWriteFiles", 0},   {"TFTP", "TRetries", 5},
        {"TFTP", "TTimeout", 5},        {"FTP", "FAllowUpload", 1},       {"FTP", "FAllowDownload", 1},
        {"FTP", "FOverwrite", 0},       {"FTP", "AnonAllowed", 1},        {"FTP", "UserSecurity", 1},
        {"FTP", "FPassive", 1},         {"TFTP", "TOptions", 1},          {"TFTP", "TMaxBlockSize", 65464},
        {"TFTP", "TMaxWindowSize", 64}, {"TFTP", "TMemoryLimit", 256},    {"TFTP", "TPerAddress", 64},
        {"FTP", "FPerAddress", 16},     {"General", "FollowHardLinks", 0}};
    for (const Key& k : keys) QCOMPARE(f.config->GetProfileInt(k.section, k.key, -1), k.value);
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFPassivePorts.key, "missing"), std::string("0"));
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFPassiveAddress.key, "missing"), std::string());
    // The directory pages were never shown: their values go back as read.
    QCOMPARE(f.config->GetProfileString(cfg::kTftp, cfg::kTDLDir.key, "missing"), std::string());
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFDLDir.key, "missing"), std::string());
  }

  void cancelWritesNothing() {
    std::string ini = "[General]\r\nSystemTray=0\r\n[TFTP]\r\nTTimeout=7\r\n";
    SheetFixture f(true, ini);
    f.sheet->General()->systemTray->setChecked(true);
    f.FillTftp("9", "9");
    f.sheet->Tabs()->setCurrentIndex(2);
    f.sheet->Ftp()->anonAllowed->setChecked(false);
    f.sheet->reject();
    QCOMPARE(ReadText(f.Dir() + "Harbinex.ini"), ini);
  }

  void browsePutsTheFolderWithASeparator() {
    SheetFixture f;
    f.sheet->Tabs()->setCurrentIndex(1);
    f.modals.chosenDirectory = "/srv/tftp";
    QTest::mouseClick(f.sheet->Tftp()->browse, Qt::LeftButton);
    QCOMPARE(f.modals.chooserTitles.back(), std::string("Select a Directory"));
    QCOMPARE(f.sheet->Tftp()->dir->text(), QString("/srv/tftp/"));
    f.modals.chosenDirectory.reset();
    QTest::mouseClick(f.sheet->Tftp()->browse, Qt::LeftButton);
    QCOMPARE(f.sheet->Tftp()->dir->text(), QString("/srv/tftp/"));
    // The chooser opens at the folder in the field, or at the home folder when there is no such folder.
    f.sheet->Tftp()->dir->setText(QString::fromStdString(f.Dir()));
    QTest::mouseClick(f.sheet->Tftp()->browse, Qt::LeftButton);
    QCOMPARE(f.modals.chooserStartDirs.back(), f.Dir());
    f.sheet->Tftp()->dir->setText(QString::fromStdString(f.Dir() + "nowhere/"));
    QTest::mouseClick(f.sheet->Tftp()->browse, Qt::LeftButton);
    QCOMPARE(f.modals.chooserStartDirs.back(), std::string());
  }

  void withoutATrayTheOptionIsDisabledAndSaysWhy() {
    SheetFixture f(false, "[General]\r\nSystemTray=1\r\n");
    QVERIFY(!f.sheet->General()->systemTray->isEnabled());
    QVERIFY(f.sheet->General()->findChild<QLabel*>("noTray"));
    f.sheet->accept();
    QCOMPARE(f.config->GetProfileInt(cfg::kGeneral, cfg::kSystemTray.key, -1), 1);  // kept as it was
  }

  void passiveSettingsAreCheckedAndWritten() {
    SheetFixture f;
    f.sheet->Tabs()->setCurrentIndex(2);
    f.sheet->Ftp()->dir->setText(QString::fromStdString(f.Dir()));
    f.sheet->Ftp()->passivePorts->setText("5000");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages(),
             std::vector<std::string>{"Please enter 0 or a range of ports such as 50000-50100."});
    QCOMPARE(f.sheet->result(), int(QDialog::Rejected));
    f.sheet->Ftp()->passivePorts->setText("50000-50100");
    f.sheet->Ftp()->passiveAddress->setText("192.0.2.7");
    f.sheet->Ftp()->passive->setChecked(false);
    f.sheet->accept();
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    QCOMPARE(f.config->GetProfileInt(cfg::kFtp, cfg::kFPassive.key, -1), 0);
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFPassivePorts.key, ""), std::string("50000-50100"));
    QCOMPARE(f.config->GetProfileString(cfg::kFtp, cfg::kFPassiveAddress.key, ""), std::string("192.0.2.7"));
  }

  void tftpOptionSettingsAreShownCheckedAndWritten() {
    SheetFixture f(true, "[TFTP]\r\nTOptions=0\r\nTMaxBlockSize=1468\r\n");
    f.FillTftp("5", "5");
    TftpPage* page = f.sheet->Tftp();
    QCOMPARE(page->options->text(), QString("&Negotiate options (blksize, windowsize, tsize, timeout)"));
    QVERIFY(!page->options->isChecked());
    QCOMPARE(page->maxBlockSize->text(), QString("1468"));
    QCOMPARE(page->maxWindowSize->text(), QString("64"));  // missing from the file: its default
    page->maxBlockSize->setText("511");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages(), std::vector<std::string>{"Please enter an integer between 512 and 65464."});
    page->maxBlockSize->setText("65464");
    page->maxWindowSize->setText("0");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages().back(), std::string("Please enter an integer between 1 and 64."));
    page->maxWindowSize->setText("65");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages().back(), std::string("Please enter an integer between 1 and 64."));
    QCOMPARE(f.sheet->result(), int(QDialog::Rejected));
    page->options->setChecked(true);
    page->maxWindowSize->setText("64");
    f.sheet->accept();
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    QCOMPARE(f.config->GetProfileInt("TFTP", "TOptions", -1), 1);
    QCOMPARE(f.config->GetProfileInt("TFTP", "TMaxBlockSize", -1), 65464);
    QCOMPARE(f.config->GetProfileInt("TFTP", "TMaxWindowSize", -1), 64);
  }

  void limitSettingsAreShownCheckedAndWritten() {
    SheetFixture f(true,
                   "[General]\r\nFollowHardLinks=1\r\n[TFTP]\r\nTMemoryLimit=128\r\nTPerAddress=8\r\n"
                   "[FTP]\r\nFPerAddress=4\r\n");
    f.FillTftp("5", "5");
    f.sheet->Tabs()->setCurrentIndex(2);
    f.sheet->Ftp()->dir->setText(QString::fromStdString(f.Dir()));
    struct Field {
      int page;
      QLineEdit* edit;
      const cfg::IntSetting& setting;
      QString read;
      std::string refusal;  // of a value one beyond the range
      QString beyond;
      int written;
    } fields[] = {
        {1, f.sheet->Tftp()->memoryLimit, cfg::kTMemoryLimit, "128",
         "Please enter an integer between 1 and 65536.", "0", 1},
        {1, f.sheet->Tftp()->perAddress, cfg::kTPerAddress, "8",
         "Please enter an integer between 0 and 65535.", "65536", 0},
        {2, f.sheet->Ftp()->perAddress, cfg::kFPerAddress, "4",
         "Please enter an integer between 0 and 65535.", "65536", 65535},
    };
    for (const Field& field : fields) {
      f.sheet->Tabs()->setCurrentIndex(field.page);
      QCOMPARE(field.edit->text(), field.read);
      field.edit->setText(field.beyond);
      f.sheet->accept();
      QCOMPARE(f.modals.Messages().back(), field.refusal);
      QCOMPARE(f.sheet->result(), int(QDialog::Rejected));
      field.edit->setText(QString::number(field.written));
    }
    f.sheet->Tabs()->setCurrentIndex(0);
    QVERIFY(f.sheet->General()->followHardLinks->isChecked());
    f.sheet->General()->followHardLinks->setChecked(false);
    f.sheet->accept();
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    for (const Field& field : fields)
      QCOMPARE(f.config->GetProfileInt(field.setting.section, field.setting.key, -1), field.written);
    QCOMPARE(f.config->GetProfileInt(cfg::kGeneral, cfg::kFollowHardLinks.key, -1), 0);
  }

  void allowListsAreCheckedWithTheEntrysPlaceAndWrittenWhole() {
    // A list longer than the usual limit of a value is shown and written back whole.
    std::string longList;
    for (int i = 0; i < 1000; ++i) longList += (i ? ", 192.0.2." : "192.0.2.") + std::to_string(i % 256);
    SheetFixture f(true, "[FTP]\r\nFAllow=" + longList + "\r\n");
    f.FillTftp("5", "5");
    QLineEdit* field = f.sheet->Tftp()->allow;
    QCOMPARE(field->text(), QString());
    const std::string advice =
        ". Please enter addresses or prefixes separated by commas, such as 10.0.0.0/8, 192.168.1.7, "
        "fd00::/8, "
        "or leave the field empty for every address.";
    struct Bad {
      QString text;
      std::string message;
      int start;  // of the refused entry in the field
      QString selected;
    } bad[] = {
        {"10.0.0.0/8, 10.0.0.300, ::1", "Entry 2 \"10.0.0.300\" is not an IPv4 or IPv6 address or prefix", 12,
         "10.0.0.300"},
        {"  fd00::/129",
         "Entry 1 \"fd00::/129\" has a longer prefix than its address (IPv4 at most /32, IPv6 at most /128)",
         2, "fd00::/129"},
        {"1.2.3.4,,5.6.7.8", "Entry 2 is empty", 8, ""},
    };
    for (const Bad& b : bad) {
      field->setText(b.text);
      f.sheet->accept();
      QCOMPARE(f.sheet->result(), int(QDialog::Rejected));
      QCOMPARE(f.modals.Messages().back(), b.message + advice);
      QCOMPARE(field->selectedText(), b.selected);
      QCOMPARE(b.selected.isEmpty() ? field->cursorPosition() : field->selectionStart(), b.start);
    }
    field->setText(" 10.0.0.0/8 , fd00::/8 ");
    f.sheet->Tabs()->setCurrentIndex(2);
    QCOMPARE(f.sheet->Tabs()->currentIndex(), 2);
    QCOMPARE(f.sheet->Ftp()->allow->text().toStdString(), longList);
    f.sheet->Ftp()->dir->setText(QString::fromStdString(f.Dir()));
    f.sheet->accept();
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    QCOMPARE(cfg::ReadWhole(*f.config, cfg::kTAllow), std::string("10.0.0.0/8 , fd00::/8"));
    QCOMPARE(cfg::ReadWhole(*f.config, cfg::kFAllow), longList);
  }

  void userListOpensFromTheFtpPage() {
    SheetFixture f;
    f.sheet->Tabs()->setCurrentIndex(2);
    QString caption;
    OnNextModal([&](QWidget* modal) {
      caption = modal->windowTitle();
      static_cast<QDialog*>(modal)->accept();
    });
    QTest::mouseClick(f.sheet->Ftp()->editUsers, Qt::LeftButton);
    QCOMPARE(caption, QString("User List"));
    QVERIFY(std::filesystem::exists(f.Dir() + "Harbinex.pwd"));  // the list read (and created) the file
  }

  void tlsSettingsAreShownCheckedAndWritten() {
    SheetFixture f(true, "[FTP]\r\nFTLS=2\r\nFTLSAnonymousPlain=1\r\nFImplicitPort=990\r\n");
    f.sheet->Tabs()->setCurrentIndex(2);
    f.sheet->Ftp()->dir->setText(QString::fromStdString(f.Dir()));
    FtpTlsBox* box = f.sheet->Ftp()->tls;
    QCOMPARE(box->mode->currentText(), QString("Required"));
    QVERIFY(box->anonymousPlain->isChecked());
    QVERIFY(box->anonymousPlain->isEnabled());
    QVERIFY(box->requireReuse->isChecked());  // missing: on
    QCOMPARE(box->certificate->text(), QString("Harbinex.crt"));
    QCOMPARE(box->key->text(), QString("Harbinex.key"));
    QCOMPARE(box->implicitPort->text(), QString("990"));
    QVERIFY(!box->newCertificate->isEnabled());  // no server TLS to renew
    const std::pair<QString, std::string> refusals[] = {
        {"65536", "Please enter an integer between 0 and 65535."},
        {"", "Please enter an integer."},
    };
    for (const auto& [port, refusal] : refusals) {
      box->implicitPort->setText(port);
      f.sheet->accept();
      QCOMPARE(f.modals.Messages().back(), refusal);
      QCOMPARE(f.sheet->result(), int(QDialog::Rejected));
    }
    box->implicitPort->setText("0");
    box->key->setText(" ");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages().back(), std::string("This field cannot be left blank."));
    box->key->setText("/etc/ssl/private/ftp.key");
    box->mode->setCurrentIndex(1);
    QVERIFY(!box->anonymousPlain->isEnabled());  // it means something with Required only
    box->requireReuse->setChecked(false);
    f.modals.Clear();
    f.sheet->accept();
    QVERIFY(f.modals.Messages().empty());
    QCOMPARE(f.sheet->result(), int(QDialog::Accepted));
    QCOMPARE(f.config->GetProfileInt("FTP", "FTLS", -1), 1);
    QCOMPARE(f.config->GetProfileString("FTP", "FTLSCertificate"), std::string("Harbinex.crt"));
    QCOMPARE(f.config->GetProfileString("FTP", "FTLSKey"), std::string("/etc/ssl/private/ftp.key"));
    QCOMPARE(f.config->GetProfileInt("FTP", "FTLSRequireReuse", -1), 0);
    QCOMPARE(f.config->GetProfileInt("FTP", "FTLSAnonymousPlain", -1), 1);
    QCOMPARE(f.config->GetProfileInt("FTP", "FImplicitPort", -1), 0);
  }

  void theCertificateIsShownAndRenewedAfterAsking() {
    auto serverTls = std::make_shared<tls::ServerTls>();
    SheetFixture f(true, "", serverTls);
    f.sheet->Tabs()->setCurrentIndex(2);
    FtpTlsBox* box = f.sheet->Ftp()->tls;
    std::string first = serverTls->Fingerprint();
    QVERIFY(first.starts_with("SHA256:"));
    QCOMPARE(box->fingerprint->text().toStdString(), first);
    QVERIFY(box->fingerprint->isReadOnly());
    QVERIFY(box->problem->isHidden());
    for (bool yes : {false, true}) {
      f.modals.answers = {yes};
      QTest::mouseClick(box->newCertificate, Qt::LeftButton);
      QCOMPARE(f.modals.questions.back(),
               std::string("Make a new certificate? Clients that trust the old one will warn."));
    }
    std::string renewed = serverTls->Fingerprint();
    QVERIFY(renewed.starts_with("SHA256:") && renewed != first);
    QCOMPARE(box->fingerprint->text().toStdString(), renewed);
    QVERIFY(ReadText(f.Dir() + "Harbinex.log").find(renewed) != std::string::npos);

    // A broken certificate: no fingerprint, the reason in red.
    WriteText(f.Dir() + "broken.crt", "not a certificate");
    SheetFixture broken(true, "[FTP]\r\nFTLSCertificate=" + f.Dir() + "broken.crt\r\n",
                        std::make_shared<tls::ServerTls>());
    broken.sheet->Tabs()->setCurrentIndex(2);
    box = broken.sheet->Ftp()->tls;
    QVERIFY(!box->problem->isHidden());
    QVERIFY(box->problem->text().startsWith("TLS is off: "));
    QVERIFY(box->problem->text().contains("broken.crt"));
    QCOMPARE(box->fingerprint->text(), QString());
  }

  void theFtpPageFitsASmallScreen() {
    SheetFixture f(true, "", std::make_shared<tls::ServerTls>());  // a fingerprint shown whole
    f.sheet->Tabs()->setCurrentIndex(2);
    QSize size = f.sheet->sizeHint();
    // Room for a title bar and a panel on a screen of 1280 x 800.
    QVERIFY(size.width() <= 1280);
    QVERIFY(size.height() <= 720);
  }

  void aFileThatCannotBeWrittenKeepsTheSheetOpen() {
    SheetFixture f;
    // A directory in place of the file: no write can replace it.
    std::filesystem::create_directory(f.Dir() + "Harbinex.ini");
    f.sheet->accept();
    QCOMPARE(f.modals.Messages(),
             std::vector<std::string>{"Error writing configuration file " + f.Dir() + "Harbinex.ini"});
    QVERIFY(f.sheet->isVisible());
    QVERIFY(f.sheet->result() != QDialog::Accepted);
  }
};

}  // namespace hx::test

int RunConfigSheetTests(int argc, char** argv) {
  hx::test::ConfigSheetTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_config_sheet.moc"
