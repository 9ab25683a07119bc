#pragma once

#include <QDialog>

#include "tftp/tftp_client_job.h"
#include "ui/client_launcher.h"

class QLineEdit;
class QPushButton;

namespace hx {

class ConfigStore;
class Modals;

// "TFTP GET File Information" / "TFTP PUT File Information": what one TFTP client transfer moves, offering
// the last values of its direction. The values, their checks and their saving are the TFTP client's own
// (tftp/tftp_client_start.h); this is their window.
class TftpFileDialog : public QDialog {
  Q_OBJECT

 public:
  TftpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent = nullptr);

  // Checks host, local name, port (1 to 65534), remote name, then the options (empty: not asked for) in that
  // order; a refusal keeps the dialog open with the focus in that field.
  void accept() override;

  // The transfer, valid after OK.
  const tftp::TftpClientJob& Job() const { return m_job; }

  QLineEdit* host;
  QLineEdit* port;
  QLineEdit* remoteName;
  QLineEdit* localName;
  QPushButton* browse;
  QLineEdit* blockSize;   // "Block size:", 8 to 65464
  QLineEdit* windowSize;  // "Window size:", 1 to 65535
  QLineEdit* timeout;     // "Timeout (s):", 1 to 255

 private:
  void OnBrowse();

  ConfigStore& m_config;
  Modals& m_modals;
  tftp::TftpClientJob m_job;
};

// The command behind "Tftp Client (Get File)" and "Tftp Client (Put File)": the dialog, then the client
// session started, which saves the last values. Returns whether a session was asked for.
bool RunTftpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                          QWidget* parent);

}  // namespace hx
