#include "ui/tftp_file_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ui/dialog_checks.h"
#include "ui/modals.h"

namespace hx {
namespace {

constexpr const char* kHost = "Host";
constexpr const char* kLocalName = "LocalName";
constexpr const char* kPortNumber = "PortNumber";
constexpr const char* kRemoteName = "RemoteName";

QLineEdit* Field(const char* name, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setMinimumWidth(260);
  return field;
}

// The port field keeps its narrow width; the form would stretch it like the names.
QHBoxLayout* PortRow(QLineEdit* port) {
  auto* row = new QHBoxLayout;
  row->addWidget(port);
  row->addStretch(1);
  return row;
}

}  // namespace

TftpFileDialog::TftpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent)
    : QDialog(parent),
      host(Field("host", this)),
      port(Field("port", this)),
      remoteName(Field("remoteName", this)),
      localName(Field("localName", this)),
      browse(new QPushButton("Browse", this)),
      m_bPut(put),
      m_config(config),
      m_modals(modals) {
  setWindowTitle(put ? "TFTP PUT File Information" : "TFTP GET File Information");
  const char* section = put ? cfg::kTLastPut : cfg::kTLastGet;
  port->setMinimumWidth(60);
  port->setMaximumWidth(90);
  browse->setObjectName("browse");
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, &TftpFileDialog::OnBrowse);

  std::string local = config.GetProfileString(section, kLocalName, "");
  if (local.empty()) local = config.GetProfileString(cfg::kTftp, cfg::kTDLDir, "");
  host->setText(QString::fromStdString(config.GetProfileString(section, kHost, "")));
  localName->setText(QString::fromStdString(local));
  port->setText(QString::number(config.GetProfileInt(section, kPortNumber, 69)));
  remoteName->setText(QString::fromStdString(config.GetProfileString(section, kRemoteName, "")));

  auto* form = new QFormLayout;
  form->addRow("Tftp Host: ", host);
  form->addRow("Port:", PortRow(port));
  form->addRow("Remote file name: ", remoteName);
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(localName, 1);
  localRow->addWidget(browse);
  form->addRow("Local file name:", localRow);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &TftpFileDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TftpFileDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void TftpFileDialog::accept() {
  if (!CheckNotBlank(host, m_modals, this) || !CheckNotBlank(localName, m_modals, this)) return;
  std::optional<int> portNumber = TakeIntInRange(port, 1, 65534, m_modals, this);
  if (!portNumber || !CheckNotBlank(remoteName, m_modals, this)) return;
  m_request.put = m_bPut;
  m_request.host = host->text().toStdString();
  m_request.port = *portNumber;
  m_request.remoteName = remoteName->text().toStdString();
  m_request.localName = localName->text().toStdString();
  QDialog::accept();
}

void TftpFileDialog::OnBrowse() {
  std::string start = m_config.GetProfileString(cfg::kTftp, cfg::kTDLDir, "");
  if (auto chosen = m_modals.ChooseFile(this, start, /*forSaving=*/!m_bPut))
    localName->setText(QString::fromStdString(*chosen));
}

void SaveTftpLastValues(ConfigStore& config, const TftpClientRequest& request) {
  const char* section = request.put ? cfg::kTLastPut : cfg::kTLastGet;
  config.WriteProfileString(section, kHost, request.host);
  config.WriteProfileString(section, kLocalName, request.localName);
  config.WriteProfileInt(section, kPortNumber, request.port);
  config.WriteProfileString(section, kRemoteName, request.remoteName);
}

bool RunTftpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                          QWidget* parent) {
  TftpFileDialog dialog(put, config, modals, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  TftpClientRequest request = dialog.Request();
  SaveTftpLastValues(config, request);
  if (!launcher.startTftp) {
    modals.Message(parent, "This build of Harbinex has no TFTP client yet; the values are kept for the next time.");
    return false;
  }
  launcher.startTftp(request);
  return true;
}

}  // namespace hx
