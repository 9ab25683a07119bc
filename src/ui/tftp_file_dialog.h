#pragma once

#include <QDialog>
#include <string>

#include "ui/client_launcher.h"

class QLineEdit;
class QPushButton;

namespace hx {

class ConfigStore;
class Modals;

// "TFTP GET File Information" / "TFTP PUT File Information": what one TFTP client transfer moves, offering
// the last values of its direction (sections TLastGet and TLastPut).
class TftpFileDialog : public QDialog {
  Q_OBJECT

 public:
  TftpFileDialog(bool put, ConfigStore& config, Modals& modals, QWidget* parent = nullptr);

  // Checks host, local name, port (1 to 65534) and remote name in that order; a refusal keeps the dialog open
  // with the focus in that field.
  void accept() override;

  TftpClientRequest Request() const { return m_request; }

  QLineEdit* host;
  QLineEdit* port;
  QLineEdit* remoteName;
  QLineEdit* localName;
  QPushButton* browse;

 private:
  void OnBrowse();

  bool m_bPut;
  ConfigStore& m_config;
  Modals& m_modals;
  TftpClientRequest m_request;
};

// The command behind "Tftp Client (Get File)" and "Tftp Client (Put File)": the dialog, the last values
// saved, the client session started. Returns whether a session was asked for.
bool RunTftpClientCommand(bool put, ConfigStore& config, Modals& modals, const ClientLauncher& launcher,
                          QWidget* parent);
void SaveTftpLastValues(ConfigStore& config, const TftpClientRequest& request);

}  // namespace hx
