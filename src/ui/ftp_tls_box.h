#pragma once

#include <QGroupBox>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace hx {

class ConfigStore;
class Modals;
class TransferLog;
namespace tls {
class ServerTls;
}

// What the TLS box works with besides the settings.
struct ServerTlsAccess {
  std::string appDir;  // where a file name without a folder lies, ending in "/"
  // The FTP server's TLS, whose certificate the box shows and renews; nullptr: none to show.
  std::shared_ptr<tls::ServerTls> serverTls;
  TransferLog* log = nullptr;  // where a new certificate is logged
};

// The FTP page's " TLS " group: FTLS, the certificate and key files, FTLSRequireReuse, FTLSAnonymousPlain and
// FImplicitPort, with the certificate in use (its fingerprint, or in red why there is none) and the button
// that makes a new one. Filled and taken back with its page.
class FtpTlsBox : public QGroupBox {
  Q_OBJECT

 public:
  FtpTlsBox(ConfigStore& config, Modals& modals, ServerTlsAccess access, QWidget* parent = nullptr);

  void Fill();
  // False after a refusal has been shown (focus on the field).
  bool TakeBack();

  int m_nTls;  // 0 off, 1 offered, 2 required: the index of the mode box
  std::string m_strCertificate;
  std::string m_strKey;
  int m_bRequireReuse;
  int m_bAnonymousPlain;
  int m_nImplicitPort;  // 0: none
  QComboBox* mode;      // Off, Offered, Required
  QLineEdit* certificate;
  QPushButton* browseCertificate;
  QLineEdit* key;
  QPushButton* browseKey;
  QCheckBox* requireReuse;
  QCheckBox* anonymousPlain;  // meaningful with Required only, and enabled only then
  QLineEdit* implicitPort;
  QLineEdit* fingerprint;  // read-only, so that it can be selected and copied
  QLabel* problem;         // why the server has no TLS, in red; hidden when it has
  QPushButton* newCertificate;

 private:
  // Shows the certificate the server uses now.
  void ShowCertificate();
  void OnNewCertificate();
  void BrowseFile(QLineEdit* field);

  ConfigStore& m_config;
  Modals& m_modals;
  ServerTlsAccess m_access;
};

}  // namespace hx
