#include "ui/tftp_file_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "tftp/tftp_client_start.h"
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

// A number field (port, options) keeps its narrow width; the form would stretch it like the names.
QLineEdit* NumberField(const char* name, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setMinimumWidth(60);
  field->setMaximumWidth(90);
  return field;
}

QHBoxLayout* NumberRow(QLineEdit* field) {
  auto* row = new QHBoxLayout;
  row->addWidget(field);
  row->addStretch(1);
  return row;
}

QString Qt(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

TftpFileDialog::TftpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent)
    : QDialog(parent),
      host(Field("host", this)),
      port(NumberField("port", this)),
      remoteName(Field("remoteName", this)),
      localName(Field("localName", this)),
      browse(new QPushButton("&Browse", this)),
      blockSize(NumberField("blockSize", this)),
      windowSize(NumberField("windowSize", this)),
      timeout(NumberField("timeout", this)),
      m_config(config),
      m_modals(modals) {
  m_job.put = put;
  setWindowTitle(tftp::TftpClientTitle(put));
  browse->setObjectName("browse");
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, &TftpFileDialog::OnBrowse);

  tftp::TftpClientForm form = tftp::LoadTftpClientForm(config, put);
  host->setText(Qt(form.host));
  port->setText(Qt(form.port));
  remoteName->setText(Qt(form.remoteName));
  localName->setText(Qt(form.localName));
  blockSize->setText(Qt(form.blockSize));
  windowSize->setText(Qt(form.windowSize));
  timeout->setText(Qt(form.timeout));

  auto* fields = new QFormLayout;
  fields->addRow("Tftp &Host: ", host);
  fields->addRow(FieldLabel("&Port:", port, this), NumberRow(port));
  fields->addRow("&Remote file name: ", remoteName);
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(localName, 1);
  localRow->addWidget(browse);
  fields->addRow(FieldLabel("&Local file name:", localName, this), localRow);
  fields->addRow(FieldLabel("Block &size:", blockSize, this), NumberRow(blockSize));
  fields->addRow(FieldLabel("&Window size:", windowSize, this), NumberRow(windowSize));
  fields->addRow(FieldLabel("&Timeout (s):", timeout, this), NumberRow(timeout));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &TftpFileDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TftpFileDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(buttons);
}

void TftpFileDialog::accept() {
  tftp::TftpClientForm form{host->text().toStdString(),       port->text().toStdString(),
                            remoteName->text().toStdString(), localName->text().toStdString(),
                            blockSize->text().toStdString(),  windowSize->text().toStdString(),
                            timeout->text().toStdString()};
  if (auto error = tftp::ValidateTftpClientForm(form, m_job)) {
    m_modals.Message(this, error->message);
    QLineEdit* field = nullptr;
    switch (error->field) {
      case tftp::TftpClientField::Host:
        field = host;
        break;
      case tftp::TftpClientField::Port:
        field = port;
        break;
      case tftp::TftpClientField::RemoteName:
        field = remoteName;
        break;
      case tftp::TftpClientField::LocalName:
        field = localName;
        break;
      case tftp::TftpClientField::BlockSize:
        field = blockSize;
        break;
      case tftp::TftpClientField::WindowSize:
        field = windowSize;
        break;
      case tftp::TftpClientField::Timeout:
        field = timeout;
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
  QDialog::accept();
}

void TftpFileDialog::OnBrowse() {
  std::string start = cfg::Read(m_config, cfg::kTDLDir);
  if (auto chosen = m_modals.ChooseFile(this, start, /*forSaving=*/!m_job.put))
    localName->setText(Qt(*chosen));
}

bool RunTftpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                          QWidget* parent) {
  TftpFileDialog dialog(put, config, modals, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!launcher.startTftp) return false;
  launcher.startTftp(dialog.Job());
  return true;
}

}  // namespace hx
