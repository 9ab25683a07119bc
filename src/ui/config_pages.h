#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "ui/ftp_tls_box.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace hx {

class ConfigStore;
class Modals;

// A page of the configuration sheet. Its members are read from the settings when the page is built, put
// into the controls when the page is first shown, and taken back (with their checks) whenever the page is
// left and on OK; a page that was never shown keeps what was read.
class ConfigPage : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

  // Fills the controls the first time; later calls do nothing.
  void FillOnce();
  bool Shown() const { return m_filled; }
  // Takes the controls back into the members; false after a refusal has been shown (focus on the field).
  virtual bool TakeBack() = 0;

 protected:
  virtual void Fill() = 0;

 private:
  bool m_filled = false;
};

class GeneralPage : public ConfigPage {
  Q_OBJECT

 public:
  // Without a tray the tray option is disabled, and the page says why.
  GeneralPage(ConfigStore& config, Modals& modals, bool trayAvailable, QWidget* parent = nullptr);
  bool TakeBack() override;

  int m_bSystemTray;
  int m_bQuorin;
  int m_bIPv6;              // General/IPv6: the services listen on IPv6 too, from their next start
  int m_bFollowHardLinks;   // 1: files with several hard links are served whoever owns them
  int m_nKeepFinishedRows;  // finished rows the session list keeps; 0 every row
  QCheckBox* systemTray;
  QCheckBox* quorin;
  QCheckBox* ipv6;
  QCheckBox* followHardLinks;
  QLineEdit* keepFinishedRows;

 protected:
  void Fill() override;

 private:
  Modals& m_modals;
};

class TftpPage : public ConfigPage {
  Q_OBJECT

 public:
  TftpPage(ConfigStore& config, Modals& modals, QWidget* parent = nullptr);
  bool TakeBack() override;

  int m_bMakeNewDirs;
  int m_bOverwrite;
  std::string m_strDir;
  int m_nTimeout;
  int m_nRetries;
  int m_bOptions;          // 0: requests are served as if they carried no options
  int m_nMaxBlockSize;     // the largest blksize the server grants
  int m_nMaxWindowSize;    // the largest windowsize the server grants
  int m_nMemoryLimit;      // MiB for the blocks in flight of all sessions
  int m_nPerAddress;       // sessions at once from one address; 0 no cap
  std::string m_strAllow;  // TAllow: the addresses served; empty every address
  int m_nPort;             // TPort: the UDP port of the service
  QCheckBox* makeNewDirs;
  QCheckBox* overwrite;
  QLineEdit* dir;
  QPushButton* browse;
  QLineEdit* timeout;
  QLineEdit* retries;
  QCheckBox* options;
  QLineEdit* maxBlockSize;
  QLineEdit* maxWindowSize;
  QLineEdit* memoryLimit;
  QLineEdit* perAddress;
  QLineEdit* allow;
  QLineEdit* port;

 protected:
  void Fill() override;

 private:
  Modals& m_modals;
};

class FtpPage : public ConfigPage {
  Q_OBJECT

 public:
  FtpPage(ConfigStore& config, Modals& modals, std::function<void()> editUsers,
          ServerTlsAccess tlsAccess = {}, QWidget* parent = nullptr);
  bool TakeBack() override;

  int m_bAnonAllowed;
  int m_bAllowDownload;
  int m_bAllowUpload;
  int m_bOverwrite;
  std::string m_strDir;
  int m_bUserSecurity;
  int m_nIdleTimeout;  // seconds; 0 never
  int m_nDataTimeout;  // seconds; 0 never
  int m_bPassive;
  std::string m_strPassivePorts;    // "0" or "first-last"
  std::string m_strPassiveAddress;  // empty: the control connection's local address
  int m_nPerAddress;                // connections at once from one address; 0 no cap
  std::string m_strAllow;           // FAllow: the addresses served; empty every address
  int m_nPort;                      // FPort: the control connections' TCP port
  int m_nDataPort;                  // FDataPort: the source port of active data connections; 0 any
  QCheckBox* anonAllowed;
  QCheckBox* allowDownload;
  QCheckBox* allowUpload;
  QCheckBox* overwrite;
  QLineEdit* dir;
  QPushButton* browse;
  QCheckBox* userSecurity;
  QPushButton* editUsers;
  QLineEdit* idleTimeout;
  QLineEdit* dataTimeout;
  QCheckBox* passive;
  QLineEdit* passivePorts;
  QLineEdit* passiveAddress;
  QLineEdit* perAddress;
  QLineEdit* allow;
  QLineEdit* port;
  QLineEdit* dataPort;
  FtpTlsBox* tls;

 protected:
  void Fill() override;

 private:
  Modals& m_modals;
};

// The address-list step of taking a page back: the field's text, trimmed, into `list` when it reads as an
// address list; otherwise false after its message, with the refused entry selected.
bool TakeAddressList(QLineEdit* field, std::string& list, Modals& modals, QWidget* parent);

// The text with "/" appended unless it already ends in one; an empty text becomes "/".
std::string WithTrailingSeparator(std::string dir);
// The directory step of taking a page back: adds the trailing separator to the member and checks the
// directory; an empty member is refused as a missing directory. False after its message (focus on the field).
bool ValidateDirectory(std::string& dir, QLineEdit* field, Modals& modals, QWidget* parent);
// The folder chooser of the Browse buttons, opened at the field's directory when that exists: puts the chosen
// folder, with a trailing separator, into the field.
void BrowseForDirectory(QLineEdit* field, Modals& modals, QWidget* parent);

}  // namespace hx
