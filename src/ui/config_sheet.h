#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QTabWidget;

namespace hx {

class ConfigStore;
class Frontend;
class Modals;
class ConfigPage;
class GeneralPage;
class TftpPage;
class FtpPage;
class TransferLog;
namespace tls {
class ServerTls;
}

// What the configuration sheet works with.
struct SheetContext {
  ConfigStore& config;
  Modals& modals;
  Frontend& frontend;  // the password file reports its failures here
  std::string appDir;  // where the password file and the TLS files lie
  bool trayAvailable = true;
  // The FTP server's TLS, whose certificate the FTP page shows and renews (nullptr: none), and the log that a
  // new certificate is reported to.
  std::shared_ptr<tls::ServerTls> ftpTls = nullptr;
  TransferLog* log = nullptr;
};

// The settings that the FTP service takes when it starts rather than when they are used: the TLS context's,
// the control port and the implicit port. A change of any of them needs TLS loaded again and the service
// restarted.
struct FtpStartSettings {
  int tls;
  std::string certificate;
  std::string key;
  int implicitPort;
  int port;
  bool operator==(const FtpStartSettings&) const = default;
};
FtpStartSettings ReadFtpStartSettings(const ConfigStore& config);

// "Harbinex Configuration": the General, TFTP and FTP pages. A page is checked when it is left and on OK;
// OK then writes every setting of every page, Cancel writes nothing. The user dialogs opened from the FTP
// page change the password file at once, whatever the sheet's end. The sheet is no larger than the screen's
// free area; a page that does not fit scrolls.
class ConfigSheet : public QDialog {
  Q_OBJECT

 public:
  ConfigSheet(SheetContext context, QWidget* parent = nullptr);

  void accept() override;

  QTabWidget* Tabs() const { return m_tabs; }
  GeneralPage* General() const { return m_general; }
  TftpPage* Tftp() const { return m_tftp; }
  FtpPage* Ftp() const { return m_ftp; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnTabChanged(int index);
  ConfigPage* PageAt(int index) const;
  // The size that shows every page whole, bounded by the free area of the screen the sheet opens on.
  void FitScreen();
  // Writes every setting in its order; false when the file did not take them.
  bool WriteSettings();

  SheetContext m_context;
  QTabWidget* m_tabs;
  GeneralPage* m_general;
  TftpPage* m_tftp;
  FtpPage* m_ftp;
  int m_current = 0;
  bool m_switching = false;
};

}  // namespace hx
