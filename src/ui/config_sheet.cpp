#include "ui/config_sheet.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "ui/config_pages.h"
#include "ui/ftp_tls_box.h"
#include "ui/modals.h"
#include "ui/user_list_dialog.h"

namespace hx {
namespace {

// Room left for the title bar and frame that the window manager adds around the sheet.
constexpr int kFrameRoom = 48;

// A page in a scroll area that asks for the page's whole size, so that the sheet shows it unscrolled when the
// screen has the room (a plain scroll area asks for little more than a dozen lines).
class PageScroller : public QScrollArea {
 public:
  explicit PageScroller(QWidget* page) {
    setWidget(page);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
  }
  QSize sizeHint() const override {
    QSize page = widget()->sizeHint();
    return page + QSize(2 * frameWidth() + verticalScrollBar()->sizeHint().width(), 2 * frameWidth());
  }
};

}  // namespace

FtpStartSettings ReadFtpStartSettings(const ConfigStore& config) {
  return {cfg::Read(config, cfg::kFTLS), cfg::Read(config, cfg::kFTLSCertificate),
          cfg::Read(config, cfg::kFTLSKey), cfg::Read(config, cfg::kFImplicitPort),
          cfg::Read(config, cfg::kFPort)};
}

ConfigSheet::ConfigSheet(SheetContext context, QWidget* parent)
    : QDialog(parent),
      m_context(std::move(context)),
      m_tabs(new QTabWidget(this)),
      m_general(new GeneralPage(m_context.config, m_context.modals, m_context.trayAvailable)),
      m_tftp(new TftpPage(m_context.config, m_context.modals)),
      m_ftp(new FtpPage(
          m_context.config, m_context.modals,
          [this] {
            UserListDialog users(
                UserDialogContext{m_context.config, m_context.modals, m_context.frontend, m_context.appDir},
                this);
            users.exec();
          },
          ServerTlsAccess{m_context.appDir, m_context.ftpTls, m_context.log})) {
  setWindowTitle("Harbinex Configuration");
  m_tabs->addTab(new PageScroller(m_general), "General Configuration");
  m_tabs->addTab(new PageScroller(m_tftp), "TFTP Configuration");
  m_tabs->addTab(new PageScroller(m_ftp), "FTP Configuration");
  m_tabs->setUsesScrollButtons(false);  // every tab in view: the sheet is as wide as its three tabs
  m_tabs->setCurrentIndex(0);
  connect(m_tabs, &QTabWidget::currentChanged, this, &ConfigSheet::OnTabChanged);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigSheet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tabs);
  layout->addWidget(buttons);
  FitScreen();
}

ConfigPage* ConfigSheet::PageAt(int index) const {
  return static_cast<ConfigPage*>(static_cast<QScrollArea*>(m_tabs->widget(index))->widget());
}

void ConfigSheet::FitScreen() {
  QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect free = screen->availableGeometry();
  QSize room(free.width(), std::max(free.height() - kFrameRoom, 0));
  resize(sizeHint().boundedTo(room));
}

void ConfigSheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  PageAt(m_tabs->currentIndex())->FillOnce();
}

void ConfigSheet::OnTabChanged(int index) {
  if (m_switching) return;
  // The page being left must give up its values first; it stays in front when it refuses. The tab goes
  // back before the refusal is shown, so the message appears over the page it is about.
  m_switching = true;
  m_tabs->setCurrentIndex(m_current);
  if (PageAt(m_current)->TakeBack()) {
    m_tabs->setCurrentIndex(index);
    m_current = index;
    PageAt(index)->FillOnce();
  }
  m_switching = false;
}

void ConfigSheet::accept() {
  if (!PageAt(m_tabs->currentIndex())->TakeBack()) return;
  if (!WriteSettings()) {
    // Nothing the operator entered is lost: the sheet stays open, to try again or to cancel.
    m_context.modals.Message(this, "Error writing configuration file " + m_context.config.Path().string());
    return;
  }
  QDialog::accept();
}

bool ConfigSheet::WriteSettings() {
  ConfigStore& config = m_context.config;
  cfg::Write(config, cfg::kSystemTray, m_general->m_bSystemTray);
  cfg::Write(config, cfg::kQuorin, m_general->m_bQuorin);
  cfg::Write(config, cfg::kIPv6, m_general->m_bIPv6);
  cfg::Write(config, cfg::kFollowHardLinks, m_general->m_bFollowHardLinks);
  cfg::Write(config, cfg::kKeepFinishedRows, m_general->m_nKeepFinishedRows);
  cfg::Write(config, cfg::kTMakeNewDirs, m_tftp->m_bMakeNewDirs);
  cfg::Write(config, cfg::kTOverWriteFiles, m_tftp->m_bOverwrite);
  cfg::Write(config, cfg::kTRetries, m_tftp->m_nRetries);
  cfg::Write(config, cfg::kTTimeout, m_tftp->m_nTimeout);
  cfg::Write(config, cfg::kTDLDir, m_tftp->m_strDir);
  cfg::Write(config, cfg::kTOptions, m_tftp->m_bOptions);
  cfg::Write(config, cfg::kTMaxBlockSize, m_tftp->m_nMaxBlockSize);
  cfg::Write(config, cfg::kTMaxWindowSize, m_tftp->m_nMaxWindowSize);
  cfg::Write(config, cfg::kTMemoryLimit, m_tftp->m_nMemoryLimit);
  cfg::Write(config, cfg::kTPerAddress, m_tftp->m_nPerAddress);
  cfg::Write(config, cfg::kTAllow, m_tftp->m_strAllow);
  cfg::Write(config, cfg::kTPort, m_tftp->m_nPort);
  cfg::Write(config, cfg::kFAllowUpload, m_ftp->m_bAllowUpload);
  cfg::Write(config, cfg::kFAllowDownload, m_ftp->m_bAllowDownload);
  cfg::Write(config, cfg::kFOverwrite, m_ftp->m_bOverwrite);
  cfg::Write(config, cfg::kFDLDir, m_ftp->m_strDir);
  cfg::Write(config, cfg::kAnonAllowed, m_ftp->m_bAnonAllowed);
  cfg::Write(config, cfg::kUserSecurity, m_ftp->m_bUserSecurity);
  cfg::Write(config, cfg::kFIdleTimeout, m_ftp->m_nIdleTimeout);
  cfg::Write(config, cfg::kFDataTimeout, m_ftp->m_nDataTimeout);
  cfg::Write(config, cfg::kFPassive, m_ftp->m_bPassive);
  cfg::Write(config, cfg::kFPassivePorts, m_ftp->m_strPassivePorts);
  cfg::Write(config, cfg::kFPassiveAddress, m_ftp->m_strPassiveAddress);
  cfg::Write(config, cfg::kFPerAddress, m_ftp->m_nPerAddress);
  cfg::Write(config, cfg::kFAllow, m_ftp->m_strAllow);
  cfg::Write(config, cfg::kFPort, m_ftp->m_nPort);
  cfg::Write(config, cfg::kFDataPort, m_ftp->m_nDataPort);
  const FtpTlsBox& tls = *m_ftp->tls;
  cfg::Write(config, cfg::kFTLS, tls.m_nTls);
  cfg::Write(config, cfg::kFTLSCertificate, tls.m_strCertificate);
  cfg::Write(config, cfg::kFTLSKey, tls.m_strKey);
  cfg::Write(config, cfg::kFTLSRequireReuse, tls.m_bRequireReuse);
  cfg::Write(config, cfg::kFTLSAnonymousPlain, tls.m_bAnonymousPlain);
  cfg::Write(config, cfg::kFImplicitPort, tls.m_nImplicitPort);

  // The store drops a failed write silently; reading back tells whether the file took the values.
  auto stringIs = [&config](const cfg::TextSetting& setting, const std::string& value) {
    // The store keeps values without surrounding blanks.
    size_t first = value.find_first_not_of(" \t");
    size_t last = value.find_last_not_of(" \t");
    std::string bare = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    return config.GetWholeProfileString(setting.section, setting.key, "\n") == bare;
  };
  auto intIs = [&config](const cfg::IntSetting& setting, int value) {
    return config.GetProfileInt(setting.section, setting.key, value == 0 ? 1 : 0) == value;
  };
  return intIs(cfg::kSystemTray, m_general->m_bSystemTray) && intIs(cfg::kQuorin, m_general->m_bQuorin) &&
         intIs(cfg::kIPv6, m_general->m_bIPv6) &&
         intIs(cfg::kFollowHardLinks, m_general->m_bFollowHardLinks) &&
         intIs(cfg::kKeepFinishedRows, m_general->m_nKeepFinishedRows) &&
         intIs(cfg::kTPort, m_tftp->m_nPort) && intIs(cfg::kFPort, m_ftp->m_nPort) &&
         intIs(cfg::kFDataPort, m_ftp->m_nDataPort) && intIs(cfg::kTMakeNewDirs, m_tftp->m_bMakeNewDirs) &&
         intIs(cfg::kTOverWriteFiles, m_tftp->m_bOverwrite) && intIs(cfg::kTRetries, m_tftp->m_nRetries) &&
         intIs(cfg::kTTimeout, m_tftp->m_nTimeout) && stringIs(cfg::kTDLDir, m_tftp->m_strDir) &&
         intIs(cfg::kTOptions, m_tftp->m_bOptions) && intIs(cfg::kTMaxBlockSize, m_tftp->m_nMaxBlockSize) &&
         intIs(cfg::kTMaxWindowSize, m_tftp->m_nMaxWindowSize) &&
         intIs(cfg::kTMemoryLimit, m_tftp->m_nMemoryLimit) &&
         intIs(cfg::kTPerAddress, m_tftp->m_nPerAddress) && stringIs(cfg::kTAllow, m_tftp->m_strAllow) &&
         intIs(cfg::kFAllowUpload, m_ftp->m_bAllowUpload) &&
         intIs(cfg::kFAllowDownload, m_ftp->m_bAllowDownload) &&
         intIs(cfg::kFOverwrite, m_ftp->m_bOverwrite) && stringIs(cfg::kFDLDir, m_ftp->m_strDir) &&
         intIs(cfg::kAnonAllowed, m_ftp->m_bAnonAllowed) &&
         intIs(cfg::kUserSecurity, m_ftp->m_bUserSecurity) &&
         intIs(cfg::kFIdleTimeout, m_ftp->m_nIdleTimeout) &&
         intIs(cfg::kFDataTimeout, m_ftp->m_nDataTimeout) && intIs(cfg::kFPassive, m_ftp->m_bPassive) &&
         stringIs(cfg::kFPassivePorts, m_ftp->m_strPassivePorts) &&
         stringIs(cfg::kFPassiveAddress, m_ftp->m_strPassiveAddress) &&
         intIs(cfg::kFPerAddress, m_ftp->m_nPerAddress) && stringIs(cfg::kFAllow, m_ftp->m_strAllow) &&
         intIs(cfg::kFTLS, tls.m_nTls) && stringIs(cfg::kFTLSCertificate, tls.m_strCertificate) &&
         stringIs(cfg::kFTLSKey, tls.m_strKey) && intIs(cfg::kFTLSRequireReuse, tls.m_bRequireReuse) &&
         intIs(cfg::kFTLSAnonymousPlain, tls.m_bAnonymousPlain) &&
         intIs(cfg::kFImplicitPort, tls.m_nImplicitPort);
}

}  // namespace hx
