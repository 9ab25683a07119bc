#pragma once

#include <QDialog>
#include <string>

class QTabWidget;

namespace hx {

class ConfigStore;
class Frontend;
class Modals;
class GeneralPage;
class TftpPage;
class FtpPage;

// What the configuration sheet works with.
struct SheetContext {
  ConfigStore& config;
  Modals& modals;
  Frontend& frontend;  // the password file reports its failures here
  std::string appDir;  // where the password file lies
  bool trayAvailable = true;
};

// "Harbinex Configuration": the General, TFTP and FTP pages. A page is checked when it is left and on OK;
// OK then writes every setting of every page, Cancel writes nothing. The user dialogs opened from the FTP
// page change the password file at once, whatever the sheet's end.
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
