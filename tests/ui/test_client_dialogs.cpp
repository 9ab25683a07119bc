// The client dialogs: last values per direction, the checks and their order, and the start.
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <filesystem>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ftp/client/ftp_client_start.h"
#include "tftp/tftp_client_start.h"
#include "tls/certificate.h"
#include "ui/ftp_file_dialog.h"
#include "ui/session_model.h"
#include "ui/tftp_file_dialog.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

// A TCP port on 127.0.0.1 where nobody listens (bound, then closed again).
int FreeTcpPort() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  return acceptor.local_endpoint().port();
}

// A UDP port on 127.0.0.1 where nobody listens (bound, then closed again).
int FreeUdpPort() {
  asio::io_context io;
  asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
  return socket.local_endpoint().port();
}

// The row of a form that holds `field`, alone or inside the row's own layout; -1 when none does.
int FormRowOf(const QFormLayout& form, QWidget* field) {
  for (int row = 0; row < form.rowCount(); ++row) {
    QLayoutItem* item = form.itemAt(row, QFormLayout::FieldRole);
    if (!item) continue;
    if (item->widget() == field || (item->layout() && item->layout()->indexOf(field) >= 0)) return row;
  }
  return -1;
}

}  // namespace

class ClientDialogTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  std::unique_ptr<ConfigStore> m_config;

  std::string Dir() const { return m_dir.path().toStdString() + "/"; }

 private slots:
  void init() {
    std::filesystem::remove(Dir() + "Harbinex.ini");
    m_config = std::make_unique<ConfigStore>(Dir() + "Harbinex.ini");
    m_config->WriteProfileString(cfg::kFtp, cfg::kFDLDir.key, "/srv/ftp/");
    m_config->WriteProfileString(cfg::kTftp, cfg::kTDLDir.key, "/srv/tftp/");
  }

  void ftpFirstUseOffersDefaults() {
    RecordingModals modals;
    FtpFileDialog get(false, *m_config, modals);
    QCOMPARE(get.windowTitle(), QString("FTP GET File Information"));
    QCOMPARE(get.host->text(), QString());
    QCOMPARE(get.port->text(), QString("21"));
    QCOMPARE(get.user->text(), QString("anonymous"));
    QCOMPARE(get.password->text(), QString());
    QCOMPARE(get.remoteName->text(), QString());
    QCOMPARE(get.localName->text(), QString("/srv/ftp/"));
    QCOMPARE(get.password->echoMode(), QLineEdit::Password);
    QCOMPARE(get.passive->text(), QString("Passive &mode"));
    QVERIFY(!get.passive->isChecked());
    FtpFileDialog put(true, *m_config, modals);
    QCOMPARE(put.windowTitle(), QString("FTP PUT File Information"));
    QVERIFY(!put.passive->isChecked());
  }

  void ftpStartsASessionAndKeepsLastValuesWithoutPassword() {
    // The real start: a client session against a port where nobody listens ends with its error in its row.
    WindowFixture f;
    f.Config().WriteProfileString(cfg::kFtp, cfg::kFDLDir.key, f.Dir());
    ClientLauncher launcher = MakeClientLauncher(*f.app);
    std::string port = std::to_string(FreeTcpPort());
    OnNextModal([port](QWidget* modal) {
      auto* d = static_cast<FtpFileDialog*>(modal);
      d->host->setText("127.0.0.1");
      d->port->setText(QString::fromStdString(port));
      d->user->setText("u");
      d->password->setText("secretpw");
      d->remoteName->setText("r.bin");
      d->localName->setText(QString::fromStdString(d->localName->text().toStdString() + "l.bin"));
      d->passive->setChecked(true);
      d->accept();
    });
    QVERIFY(RunFtpClientCommand(false, f.Config(), f.modals, launcher, f.window.get()));
    QTRY_COMPARE(f.window->Sessions()->rowCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!f.window->Sessions()->Cell(0, kColStatus).isEmpty(), 20000);
    QCOMPARE(f.window->Sessions()->Cell(0, kColPeer), QString::fromStdString("127.0.0.1:" + port));
    QCOMPARE(f.window->Sessions()->Cell(0, kColFile), QString("r.bin"));

    FtpFileDialog again(false, f.Config(), f.modals);
    QCOMPARE(again.host->text(), QString("127.0.0.1"));
    QCOMPARE(again.port->text(), QString::fromStdString(port));
    QCOMPARE(again.user->text(), QString("u"));
    QCOMPARE(again.remoteName->text(), QString("r.bin"));
    QCOMPARE(again.localName->text(), QString::fromStdString(f.Dir() + "l.bin"));
    QCOMPARE(again.password->text(), QString());
    QVERIFY(again.passive->isChecked());
    FtpFileDialog put(true, f.Config(), f.modals);
    QCOMPARE(put.host->text(), QString());
    QCOMPARE(put.port->text(), QString("21"));
    QVERIFY(!put.passive->isChecked());
    QVERIFY(ReadText(f.Dir() + "Harbinex.ini").find("secretpw") == std::string::npos);
  }

  void ftpTlsBoxIsKeptAndTheTrustDecisionStored() {
    const std::string fingerprint = *tls::ParseFingerprint(std::string(64, 'a'));
    RecordingModals modals;
    std::vector<ftpc::FtpClientJob> started;
    int probes = 0;
    bool probeFails = false;
    ClientLauncher launcher;
    launcher.startFtp = [&](const ftpc::FtpClientJob& job) {
      started.push_back(job);
      ftpc::SaveFtpClientValues(*m_config, job);  // as the real start does
    };
    launcher.probeCertificate = [&](const std::string&, std::uint16_t, bool, std::chrono::seconds,
                                    std::string& error) -> std::optional<std::string> {
      ++probes;
      if (probeFails) error = "The server at ftp.example:21 did not answer.";
      return probeFails ? std::nullopt : std::optional(fingerprint);
    };
    bool keptOpen = false;
    auto run = [&](bool tls) {
      OnNextModal([tls, &keptOpen](QWidget* modal) {
        auto* d = static_cast<FtpFileDialog*>(modal);
        d->host->setText("ftp.example");
        d->port->setText("21");
        d->password->setText("pw");
        d->remoteName->setText("r");
        d->tls->setChecked(tls);
        d->accept();
        keptOpen = d->isVisible();
        if (keptOpen) d->reject();
      });
      return RunFtpClientCommand(false, *m_config, modals, launcher, nullptr);
    };
    const std::string question =
        "The server's certificate has the fingerprint " + fingerprint + " Trust it for ftp.example:21?";
    struct Step {
      const char* name;
      bool tls;
      bool probeFails;
      bool answer;
      bool starts;
      bool keptOpen;
      int probes;           // so far
      size_t questions;     // so far
      std::string pinned;   // the started job's fingerprint
      std::string message;  // the last message box
    } steps[] = {
        {"not trusted: nothing starts", true, false, false, false, false, 1, 1, "", ""},
        {"the probe fails: the dialog stays with the reason", true, true, true, false, true, 2, 1, "",
         "The server at ftp.example:21 did not answer."},
        {"trusted: starts pinned", true, false, true, true, false, 3, 2, fingerprint, ""},
        {"remembered: asks nothing", true, false, false, true, false, 3, 2, fingerprint, ""},
        {"without TLS: nothing to decide", false, false, false, true, false, 3, 2, "", ""},
    };
    for (const Step& step : steps) {
      probeFails = step.probeFails;
      modals.answers = {step.answer};
      size_t before = started.size();
      QCOMPARE(run(step.tls), step.starts);
      QCOMPARE(keptOpen, step.keptOpen);
      QCOMPARE(started.size(), before + (step.starts ? 1 : 0));
      QCOMPARE(probes, step.probes);
      QCOMPARE(modals.questions.size(), step.questions);
      if (step.questions) QCOMPARE(modals.questions.back(), question);
      if (step.starts) {
        QCOMPARE(started.back().fingerprint, step.pinned);
        QCOMPARE(started.back().tls,
                 step.tls ? ftpc::FtpClientJob::Tls::Explicit : ftpc::FtpClientJob::Tls::Off);
      }
      if (!step.message.empty()) QCOMPARE(modals.Messages().back(), step.message);
      modals.answers.clear();
    }
    QCOMPARE(m_config->GetProfileString("FtpsTrusted", "ftp.example:21"), fingerprint);
    // The box as last used, per direction.
    QVERIFY(!FtpFileDialog(false, *m_config, modals).tls->isChecked());
    QCOMPARE(FtpFileDialog(true, *m_config, modals).tls->text(), QString("&TLS"));
    started.back().tls = ftpc::FtpClientJob::Tls::Explicit;
    ftpc::SaveFtpClientValues(*m_config, started.back());
    QVERIFY(FtpFileDialog(false, *m_config, modals).tls->isChecked());
  }

  void ftpChecksInTheirOrder_data() {
    QTest::addColumn<QStringList>("fields");  // host, port, user, password, remote, local
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("focus");
    QTest::newRow("host first") << QStringList{"", "21", "u", "", "r", "l"}
                                << "This field cannot be left blank."
                                << "host";
    QTest::newRow("local before port")
        << QStringList{"h", "x", "u", "p", "r", ""} << "This field cannot be left blank."
        << "localName";
    QTest::newRow("port") << QStringList{"h", "2x", "u", "p", "r", "l"} << "Please enter an integer."
                          << "port";
    QTest::newRow("password even for anonymous")
        << QStringList{"h", "21", "anonymous", "", "r", "l"} << "This field cannot be left blank."
        << "password";
    QTest::newRow("user last") << QStringList{"h", "21", "", "p", "r", "l"}
                               << "This field cannot be left blank."
                               << "user";
    QTest::newRow("port out of range")
        << QStringList{"h", "65536", "u", "p", "r", "l"} << "Please enter an integer between 1 and 65535."
        << "port";
    QTest::newRow("no line break in commands")
        << QStringList{"h", "21", "u\r\nDELE x", "p", "r", "l"} << "This field cannot contain a line break."
        << "user";
    QTest::newRow("blanks pass") << QStringList{" ", " 2121 ", " ", " ", " ", " "} << ""
                                 << "";
  }

  void ftpChecksInTheirOrder() {
    QFETCH(QStringList, fields);
    QFETCH(QString, refusal);
    QFETCH(QString, focus);
    RecordingModals modals;
    FtpFileDialog d(false, *m_config, modals);
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QLineEdit* edits[] = {d.host, d.port, d.user, d.password, d.remoteName, d.localName};
    for (int i = 0; i < 6; ++i) edits[i]->setText(fields[i]);
    d.accept();
    if (refusal.isEmpty()) {
      QCOMPARE(d.result(), int(QDialog::Accepted));
      QCOMPARE(d.Job().port, 2121);
      return;
    }
    QCOMPARE(modals.Messages(), std::vector<std::string>{refusal.toStdString()});
    QVERIFY(d.isVisible());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
  }

  void browseChoosesByDirection() {
    RecordingModals modals;
    modals.chosenFile = "/home/op/file.bin";
    FtpFileDialog get(false, *m_config, modals);
    QTest::mouseClick(get.browse, Qt::LeftButton);
    QCOMPARE(get.localName->text(), QString("/home/op/file.bin"));
    QCOMPARE(modals.fileChooserSaving.back(), true);
    QCOMPARE(modals.fileChooserDirs.back(), std::string("/srv/ftp/"));
    TftpFileDialog put(true, *m_config, modals);
    QTest::mouseClick(put.browse, Qt::LeftButton);
    QCOMPARE(modals.fileChooserSaving.back(), false);
    QCOMPARE(modals.fileChooserDirs.back(), std::string("/srv/tftp/"));
  }

  void tftpDefaultsChecksAndPortRange() {
    RecordingModals modals;
    TftpFileDialog first(false, *m_config, modals);
    QCOMPARE(first.windowTitle(), QString("TFTP GET File Information"));
    QCOMPARE(first.port->text(), QString("69"));
    QCOMPARE(first.localName->text(), QString("/srv/tftp/"));
    QCOMPARE(first.host->text(), QString());
    const std::pair<QStringList, std::string> cases[] = {
        // host, port, remote, local
        {{"", "x", "", ""}, "This field cannot be left blank."},
        {{"h", "x", "", ""}, "This field cannot be left blank."},
        {{"h", "x", "", "l"}, "Please enter an integer."},
        {{"h", "0", "r", "l"}, "Please enter an integer between 1 and 65534."},
        {{"h", "65535", "r", "l"}, "Please enter an integer between 1 and 65534."},
        {{"h", "69", "", "l"}, "This field cannot be left blank."},
    };
    TftpFileDialog d(true, *m_config, modals);
    QCOMPARE(d.windowTitle(), QString("TFTP PUT File Information"));
    for (const auto& [fields, refusal] : cases) {
      modals.Clear();
      d.host->setText(fields[0]);
      d.port->setText(fields[1]);
      d.remoteName->setText(fields[2]);
      d.localName->setText(fields[3]);
      d.accept();
      QCOMPARE(modals.Messages(), std::vector<std::string>{refusal});
      QVERIFY(d.result() != QDialog::Accepted);
    }
    d.port->setText("65534");
    d.remoteName->setText("r");
    d.accept();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.Job().port, 65534);
    QVERIFY(d.Job().put);
  }

  void tftpOptionFields() {
    RecordingModals modals;
    TftpFileDialog d(false, *m_config, modals);
    auto* form = d.findChild<QFormLayout*>();
    QVERIFY(form);
    const std::pair<QLineEdit*, QString> rows[] = {{d.localName, "&Local file name:"},
                                                   {d.blockSize, "Block &size:"},
                                                   {d.windowSize, "&Window size:"},
                                                   {d.timeout, "&Timeout (s):"}};
    int previous = -1;
    for (const auto& [field, label] : rows) {
      int row = FormRowOf(*form, field);
      QVERIFY(row > previous);  // under the existing fields, in this order
      QCOMPARE(static_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text(), label);
      previous = row;
    }
    QCOMPARE(d.blockSize->text(), QString());  // nothing asked for on a first use
    QCOMPARE(d.windowSize->text(), QString());
    QCOMPARE(d.timeout->text(), QString());

    d.host->setText("h");
    d.remoteName->setText("r");
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    const std::tuple<QLineEdit*, QString, std::string, QString> refusals[] = {
        {d.blockSize, "7", "Please enter an integer between 8 and 65464.", "blockSize"},
        {d.windowSize, "65536", "Please enter an integer between 1 and 65535.", "windowSize"},
        {d.timeout, "2s", "Please enter an integer.", "timeout"},
    };
    for (const auto& [field, text, refusal, focus] : refusals) {
      modals.Clear();
      field->setText(text);
      d.accept();
      QCOMPARE(modals.Messages(), std::vector<std::string>{refusal});
      QVERIFY(d.isVisible());
      QCOMPARE(QApplication::focusWidget()->objectName(), focus);
      field->clear();
    }
    d.blockSize->setText("1468");
    d.timeout->setText("3");
    d.accept();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.Job().options.blockSize, std::optional<int>(1468));
    QVERIFY(!d.Job().options.windowSize);
    QCOMPARE(d.Job().options.timeoutSeconds, std::optional<int>(3));

    tftp::SaveTftpClientValues(*m_config, d.Job());
    TftpFileDialog again(false, *m_config, modals);
    QCOMPARE(again.blockSize->text(), QString("1468"));
    QCOMPARE(again.windowSize->text(), QString());
    QCOMPARE(again.timeout->text(), QString("3"));
  }

  // A folder as the local name: a get saves into it under the remote file's name, as cp does; a put from it,
  // or a get with no file name to save under, is refused before any row starts.
  void aFolderAsTheLocalName() {
    const std::string folder = Dir() + "incoming";
    std::filesystem::create_directories(folder + "/sub");
    const std::string noName =
        folder + " is a folder. Please enter the name of the file to save the remote file as.";
    const struct Case {
      bool put;
      const char* remote;
      std::string local;
      std::string taken;  // the local file of the job; empty: refused with `refusal`
      std::string refusal;
    } cases[] = {
        {false, "boot/pxelinux.0", folder, folder + "/pxelinux.0", ""},
        {false, "fw\\image.bin", folder + "/", folder + "/image.bin", ""},
        {false, "plain.bin", folder + "/kept.bin", folder + "/kept.bin", ""},
        {false, "dir/", folder, "", noName},
        {false, "sub", folder, "", noName},
        {true, "up.bin", folder, "", folder + " is a folder. Please choose the file to send."},
    };
    for (const Case& c : cases) {
      RecordingModals modals;
      TftpFileDialog tftp(c.put, *m_config, modals);
      FtpFileDialog ftp(c.put, *m_config, modals);
      ftp.user->setText("anonymous");
      ftp.password->setText("guest@example.org");
      for (auto [dialog, host, remote, local] : {std::tuple<QDialog*, QLineEdit*, QLineEdit*, QLineEdit*>{
                                                     &tftp, tftp.host, tftp.remoteName, tftp.localName},
                                                 std::tuple<QDialog*, QLineEdit*, QLineEdit*, QLineEdit*>{
                                                     &ftp, ftp.host, ftp.remoteName, ftp.localName}}) {
        modals.Clear();
        host->setText("127.0.0.1");
        remote->setText(c.remote);
        local->setText(QString::fromStdString(c.local));
        dialog->accept();
        if (c.taken.empty()) {
          QCOMPARE(modals.Messages(), std::vector<std::string>{c.refusal});
          QVERIFY(dialog->result() != QDialog::Accepted);
        } else {
          QVERIFY(modals.Messages().empty());
          QCOMPARE(dialog->result(), int(QDialog::Accepted));
        }
      }
      if (!c.taken.empty()) {
        QCOMPARE(tftp.Job().localName, c.taken);
        QCOMPARE(ftp.Job().localName, c.taken);
      }
    }
  }

  void tftpStartsASessionAndKeepsLastValues() {
    // The real start against a UDP port where nobody listens: the session ends with its error in its row.
    WindowFixture f;
    f.Config().WriteProfileString(cfg::kTftp, cfg::kTTimeout.key, "1");
    ClientLauncher launcher = MakeClientLauncher(*f.app);
    std::string port = std::to_string(FreeUdpPort());
    std::string local = f.Dir() + "boot.img";
    OnNextModal([port, local](QWidget* modal) {
      auto* d = static_cast<TftpFileDialog*>(modal);
      d->host->setText("127.0.0.1");
      d->port->setText(QString::fromStdString(port));
      d->remoteName->setText("boot.img");
      d->localName->setText(QString::fromStdString(local));
      d->accept();
    });
    QVERIFY(RunTftpClientCommand(false, f.Config(), f.modals, launcher, f.window.get()));
    QTRY_COMPARE(f.window->Sessions()->rowCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(
        f.window->Sessions()->Cell(0, kColStatus).startsWith("Error receiving response from host : "), 20000);
    QCOMPARE(f.window->Sessions()->Cell(0, kColType), QString("Tftp Client"));
    TftpFileDialog again(false, f.Config(), f.modals);
    QCOMPARE(again.host->text(), QString("127.0.0.1"));
    QCOMPARE(again.port->text(), QString::fromStdString(port));
    QCOMPARE(again.remoteName->text(), QString("boot.img"));
    QCOMPARE(again.localName->text(), QString::fromStdString(local));
    TftpFileDialog put(true, f.Config(), f.modals);
    QCOMPARE(put.host->text(), QString());
    QCOMPARE(put.port->text(), QString("69"));
  }
};

}  // namespace hx::test

int RunClientDialogTests(int argc, char** argv) {
  hx::test::ClientDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_client_dialogs.moc"
