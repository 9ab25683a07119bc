#pragma once

#include <QDialog>

#include "ftp/client/ftp_client_job.h"
#include "ftp/client/ftp_client_start.h"
#include "ui/client_launcher.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace hx {

class ConfigStore;
class Modals;

// "FTP GET File Information" / "FTP PUT File Information": what one FTP client transfer moves. It offers the
// last values of its direction; the password is never offered nor kept. The values, their checks and their
// saving are the FTP client's own (ftp/client/ftp_client_start.h); this is their window.
class FtpFileDialog : public QDialog {
  Q_OBJECT

 public:
  FtpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent = nullptr);

  // Checks the fields in their order and keeps the dialog open on the first refusal, with the focus in that
  // field. With "TLS" ticked, the job is then pinned to the certificate trusted for its server; a certificate
  // seen for the first time is fetched (the window waiting meanwhile) and shown in a question: No closes the
  // dialog with nothing to start, a certificate that could not be fetched keeps it open with the reason.
  void accept() override;
  // How the certificate is fetched; ProbeCertificate unless replaced.
  void SetCertificateProbe(ftpc::CertificateProbe probe) { m_probe = std::move(probe); }

  // The transfer, valid after OK.
  const ftpc::FtpClientJob& Job() const { return m_job; }

  QLineEdit* host;
  QLineEdit* port;
  QLineEdit* user;
  QLineEdit* password;
  QLineEdit* remoteName;
  QLineEdit* localName;
  QPushButton* browse;
  QCheckBox* passive;  // "Passive mode"
  QCheckBox* tls;      // "TLS"

 private:
  void OnBrowse();
  // The certificate decision of a TLS job; false when the dialog is not to be accepted (it has been ended or
  // a refusal shown).
  bool DecideTrust();

  ConfigStore& m_config;
  Modals& m_modals;
  ftpc::FtpClientJob m_job;
  ftpc::CertificateProbe m_probe;
};

// The command behind "Ftp Client (Get File)" and "Ftp Client (Put File)": the dialog, then the client session
// started, which saves the last values (never the password). Returns whether a session was asked for.
bool RunFtpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                         QWidget* parent);

}  // namespace hx
