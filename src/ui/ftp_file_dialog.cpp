#include "ui/ftp_file_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ftp/client/certificate_probe.h"
#include "ftp/client/ftp_client_start.h"
#include "ui/beside_gui.h"
#include "ui/dialog_checks.h"
#include "ui/field_label.h"
#include "ui/modals.h"

namespace hx {
namespace {

QLineEdit* Field(const char* name, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setMinimumWidth(260);
  return field;
}

QString Qt(const std::string& text) {
  return QString::fromStdString(text);
}

// The port field keeps its narrow width; the form would stretch it like the names.
QHBoxLayout* PortRow(QLineEdit* port) {
  auto* row = new QHBoxLayout;
  row->addWidget(port);
  row->addStretch(1);
  return row;
}

}  // namespace

FtpFileDialog::FtpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent)
    : QDialog(parent),
      host(Field("host", this)),
      port(Field("port", this)),
      user(Field("user", this)),
      password(Field("password", this)),
      remoteName(Field("remoteName", this)),
      localName(Field("localName", this)),
      browse(new QPushButton("&Browse", this)),
      passive(new QCheckBox("Passive &mode", this)),
      tls(new QCheckBox("&TLS", this)),
      m_config(config),
      m_modals(modals),
      m_probe(ftpc::ProbeCertificate) {
  m_job.put = put;
  setWindowTitle(ftpc::FtpClientTitle(put));
  password->setEchoMode(QLineEdit::Password);
  port->setMinimumWidth(60);
  port->setMaximumWidth(90);
  browse->setObjectName("browse");
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, &FtpFileDialog::OnBrowse);
  passive->setObjectName("passive");
  tls->setObjectName("tls");

  ftpc::FtpClientForm form = ftpc::LoadFtpClientForm(config, put);
  host->setText(Qt(form.host));
  port->setText(Qt(form.port));
  user->setText(Qt(form.user));
  password->setText(Qt(form.password));
  remoteName->setText(Qt(form.remoteName));
  localName->setText(Qt(form.localName));
  passive->setChecked(form.passive);
  tls->setChecked(form.tls);

  auto* fields = new QFormLayout;
  fields->addRow("Ftp &Host: ", host);
  fields->addRow(FieldLabel("&Port:", port, this), PortRow(port));
  fields->addRow("&User name: ", user);
  fields->addRow("Pass&word:", password);
  fields->addRow("&Remote file name: ", remoteName);
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(localName, 1);
  localRow->addWidget(browse);
  fields->addRow(FieldLabel("&Local file name:", localName, this), localRow);
  fields->addRow("", passive);
  fields->addRow("", tls);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &FtpFileDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FtpFileDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(buttons);
  setTabOrder(host, port);
  setTabOrder(port, user);
  setTabOrder(user, password);
  setTabOrder(password, remoteName);
  setTabOrder(remoteName, localName);
  setTabOrder(localName, browse);
  setTabOrder(browse, passive);
  setTabOrder(passive, tls);
}

void FtpFileDialog::accept() {
  ftpc::FtpClientForm form{host->text().toStdString(),
                           port->text().toStdString(),
                           user->text().toStdString(),
                           password->text().toStdString(),
                           remoteName->text().toStdString(),
                           localName->text().toStdString(),
                           passive->isChecked(),
                           tls->isChecked()};
  if (auto error = ftpc::ValidateFtpClientForm(form, m_job)) {
    m_modals.Message(this, error->message);
    QLineEdit* field = nullptr;
    switch (error->field) {
      case ftpc::FtpClientField::Host:
        field = host;
        break;
      case ftpc::FtpClientField::Port:
        field = port;
        break;
      case ftpc::FtpClientField::User:
        field = user;
        break;
      case ftpc::FtpClientField::Password:
        field = password;
        break;
      case ftpc::FtpClientField::RemoteName:
        field = remoteName;
        break;
      case ftpc::FtpClientField::LocalName:
        field = localName;
        break;
    }
    field->setFocus();
    field->selectAll();
    return;
  }
  std::optional<std::string> local =
      TakeClientLocalFile(m_job.put, m_job.remoteName, localName, m_modals, this);
  if (!local) return;
  m_job.localName = *local;
  if (DecideTrust()) QDialog::accept();
}

bool FtpFileDialog::DecideTrust() {
  m_job.fingerprint.clear();  // the server may have changed since an earlier OK
  // The connection may take up to the probe's limit: it runs beside the GUI thread, under a waiting cursor.
  ftpc::CertificateProbe besideGui = [this](const std::string& host, std::uint16_t port, bool implicit,
                                            std::chrono::seconds limit, std::string& error) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::optional<std::string> found =
        RunBesideGui([&] { return m_probe(host, port, implicit, limit, error); });
    QApplication::restoreOverrideCursor();
    return found;
  };
  std::string error;
  ftpc::TrustDecision decision = ftpc::PinTrustedCertificate(
      m_config, m_job, besideGui,
      [this](const std::string& question) { return m_modals.Question(this, question); }, error);
  switch (decision) {
    case ftpc::TrustDecision::Start:
      return true;
    case ftpc::TrustDecision::Declined:
      reject();
      return false;
    case ftpc::TrustDecision::ProbeFailed:
      m_modals.Message(this, error);
      host->setFocus();
      host->selectAll();
      return false;
  }
  return false;
}

void FtpFileDialog::OnBrowse() {
  // The start directory is the FTP directory, as far as a path buffer of the platform would hold it.
  std::string start = cfg::Read(m_config, cfg::kFDLDir).substr(0, 259);
  if (auto chosen = m_modals.ChooseFile(this, start, /*forSaving=*/!m_job.put))
    localName->setText(Qt(*chosen));
}

bool RunFtpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                         QWidget* parent) {
  FtpFileDialog dialog(put, config, modals, parent);
  if (launcher.probeCertificate) dialog.SetCertificateProbe(launcher.probeCertificate);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!launcher.startFtp) return false;
  launcher.startFtp(dialog.Job());
  return true;
}

}  // namespace hx
