#include "ui/config_sheet.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ui/config_pages.h"
#include "ui/modals.h"
#include "ui/user_list_dialog.h"

namespace hx {

ConfigSheet::ConfigSheet(SheetContext context, QWidget* parent)
    : QDialog(parent),
      m_context(std::move(context)),
      m_tabs(new QTabWidget(this)),
      m_general(new GeneralPage(m_context.config, m_context.trayAvailable)),
      m_tftp(new TftpPage(m_context.config, m_context.modals)),
      m_ftp(new FtpPage(m_context.config, m_context.modals, [this] {
        UserListDialog users(UserDialogContext{m_context.config, m_context.modals, m_context.frontend,
                                               m_context.appDir},
                             this);
        users.exec();
      })) {
  setWindowTitle("Harbinex Configuration");
  m_tabs->addTab(m_general, "General Configuration");
  m_tabs->addTab(m_tftp, "TFTP Configuration");
  m_tabs->addTab(m_ftp, "FTP Configuration");
  m_tabs->setUsesScrollButtons(false);  // every tab in view: the sheet is as wide as its three tabs
  m_tabs->setCurrentIndex(0);
  connect(m_tabs, &QTabWidget::currentChanged, this, &ConfigSheet::OnTabChanged);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigSheet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tabs);
  layout->addWidget(buttons);
}

void ConfigSheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  static_cast<ConfigPage*>(m_tabs->currentWidget())->FillOnce();
}

void ConfigSheet::OnTabChanged(int index) {
  if (m_switching) return;
  // The page being left must give up its values first; it stays in front when it refuses. The tab goes
  // back before the refusal is shown, so the message appears over the page it is about.
  m_switching = true;
  m_tabs->setCurrentIndex(m_current);
  auto* leaving = static_cast<ConfigPage*>(m_tabs->widget(m_current));
  if (leaving->TakeBack()) {
    m_tabs->setCurrentIndex(index);
    m_current = index;
    static_cast<ConfigPage*>(m_tabs->widget(index))->FillOnce();
  }
  m_switching = false;
}

void ConfigSheet::accept() {
  if (!static_cast<ConfigPage*>(m_tabs->currentWidget())->TakeBack()) return;
  if (!WriteSettings()) {
    // Nothing the operator entered is lost: the sheet stays open, to try again or to cancel.
    m_context.modals.Message(this, "Error writing configuration file " + m_context.config.Path().string());
    return;
  }
  QDialog::accept();
}

bool ConfigSheet::WriteSettings() {
  ConfigStore& config = m_context.config;
  config.WriteProfileInt(cfg::kGeneral, cfg::kSystemTray, m_general->m_bSystemTray);
  config.WriteProfileInt(cfg::kGeneral, cfg::kQuorin, m_general->m_bQuorin);
  config.WriteProfileInt(cfg::kGeneral, cfg::kIPv6, m_general->m_bIPv6);
  config.WriteProfileInt(cfg::kTftp, cfg::kTMakeNewDirs, m_tftp->m_bMakeNewDirs);
  config.WriteProfileInt(cfg::kTftp, cfg::kTOverWriteFiles, m_tftp->m_bOverwrite);
  config.WriteProfileInt(cfg::kTftp, cfg::kTRetries, m_tftp->m_nRetries);
  config.WriteProfileInt(cfg::kTftp, cfg::kTTimeout, m_tftp->m_nTimeout);
  config.WriteProfileString(cfg::kTftp, cfg::kTDLDir, m_tftp->m_strDir);
  config.WriteProfileInt(cfg::kFtp, cfg::kFAllowUpload, m_ftp->m_bAllowUpload);
  config.WriteProfileInt(cfg::kFtp, cfg::kFAllowDownload, m_ftp->m_bAllowDownload);
  config.WriteProfileInt(cfg::kFtp, cfg::kFOverwrite, m_ftp->m_bOverwrite);
  config.WriteProfileString(cfg::kFtp, cfg::kFDLDir, m_ftp->m_strDir);
  config.WriteProfileInt(cfg::kFtp, cfg::kAnonAllowed, m_ftp->m_bAnonAllowed);
  config.WriteProfileInt(cfg::kFtp, cfg::kUserSecurity, m_ftp->m_bUserSecurity);
  config.WriteProfileInt(cfg::kFtp, cfg::kFIdleTimeout, m_ftp->m_nIdleTimeout);
  config.WriteProfileInt(cfg::kFtp, cfg::kFDataTimeout, m_ftp->m_nDataTimeout);
  config.WriteProfileInt(cfg::kFtp, cfg::kFPassive, m_ftp->m_bPassive);
  config.WriteProfileString(cfg::kFtp, cfg::kFPassivePorts, m_ftp->m_strPassivePorts);
  config.WriteProfileString(cfg::kFtp, cfg::kFPassiveAddress, m_ftp->m_strPassiveAddress);

  // The store drops a failed write silently; reading back tells whether the file took the values.
  auto stringIs = [&config](const char* section, const char* key, const std::string& value) {
    // The store keeps values without surrounding blanks.
    size_t first = value.find_first_not_of(" \t");
    size_t last = value.find_last_not_of(" \t");
    std::string bare = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    return config.GetProfileString(section, key, "\n") == bare;
  };
  auto intIs = [&config](const char* section, const char* key, int value) {
    return config.GetProfileInt(section, key, value == 0 ? 1 : 0) == value;
  };
  return intIs(cfg::kGeneral, cfg::kSystemTray, m_general->m_bSystemTray) &&
         intIs(cfg::kGeneral, cfg::kQuorin, m_general->m_bQuorin) &&
         intIs(cfg::kGeneral, cfg::kIPv6, m_general->m_bIPv6) &&
         intIs(cfg::kTftp, cfg::kTMakeNewDirs, m_tftp->m_bMakeNewDirs) &&
         intIs(cfg::kTftp, cfg::kTOverWriteFiles, m_tftp->m_bOverwrite) &&
         intIs(cfg::kTftp, cfg::kTRetries, m_tftp->m_nRetries) && intIs(cfg::kTftp, cfg::kTTimeout, m_tftp->m_nTimeout) &&
         stringIs(cfg::kTftp, cfg::kTDLDir, m_tftp->m_strDir) &&
         intIs(cfg::kFtp, cfg::kFAllowUpload, m_ftp->m_bAllowUpload) &&
         intIs(cfg::kFtp, cfg::kFAllowDownload, m_ftp->m_bAllowDownload) &&
         intIs(cfg::kFtp, cfg::kFOverwrite, m_ftp->m_bOverwrite) &&
         stringIs(cfg::kFtp, cfg::kFDLDir, m_ftp->m_strDir) &&
         intIs(cfg::kFtp, cfg::kAnonAllowed, m_ftp->m_bAnonAllowed) &&
         intIs(cfg::kFtp, cfg::kUserSecurity, m_ftp->m_bUserSecurity) &&
         intIs(cfg::kFtp, cfg::kFIdleTimeout, m_ftp->m_nIdleTimeout) &&
         intIs(cfg::kFtp, cfg::kFDataTimeout, m_ftp->m_nDataTimeout) &&
         intIs(cfg::kFtp, cfg::kFPassive, m_ftp->m_bPassive) &&
         stringIs(cfg::kFtp, cfg::kFPassivePorts, m_ftp->m_strPassivePorts) &&
         stringIs(cfg::kFtp, cfg::kFPassiveAddress, m_ftp->m_strPassiveAddress);
}

}  // namespace hx
