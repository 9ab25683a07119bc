#include "ui/config_pages.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cctype>
#include <filesystem>
#include <variant>

#include "app/address_list.h"
#include "app/config_keys.h"
#include "app/config_store.h"
#include "ftp/server/arguments.h"
#include "ftp/server/passive_listener.h"
#include "tftp/tftp_options.h"
#include "ui/dialog_checks.h"
#include "ui/field_label.h"
#include "ui/modals.h"
#include "users/directory_rule.h"

namespace hx {
namespace {

// A server that grants less than the classic block size would only slow its clients down.
constexpr int kSmallestMaxBlockSize = 512;
// The ranges of the memory ceiling (MiB) and of the caps per address (0: no cap).
constexpr int kMaxMemoryLimit = 65536;
constexpr int kMaxPerAddress = 65535;
constexpr int kMaxPort = 65535;
// A list that keeps more rows than this would grow as if it kept them all.
constexpr int kMaxKeptRows = 1000000;

QCheckBox* CheckBox(const char* text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QLineEdit* DigitsEdit(const char* name, QWidget* parent) {
  QLineEdit* edit = Edit(name, parent);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  edit->setMaximumWidth(60);
  return edit;
}

int Ticked(const QCheckBox* box) {
  return box->isChecked() ? 1 : 0;
}

constexpr const char* kAllowExample = "10.0.0.0/8, 192.168.1.7, fd00::/8";

// A field for an address list, which may be long: thousands of entries.
QLineEdit* AllowEdit(const char* name, QWidget* parent) {
  QLineEdit* edit = Edit(name, parent);
  edit->setMaxLength(1 << 24);
  edit->setPlaceholderText("every address");
  edit->setToolTip(QString("Addresses and prefixes separated by commas, such as ") + kAllowExample);
  return edit;
}

}  // namespace

std::string WithTrailingSeparator(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool ValidateDirectory(std::string& dir, QLineEdit* field, Modals& modals, QWidget* parent) {
  // An emptied field names no directory; with a separator added it would be "/", and the servers would serve
  // the whole file system.
  std::optional<std::string> refusal =
      dir.empty() ? std::optional(MissingDirectoryMessage(dir)) : CheckProfileDirectory(dir);
  if (refusal) {
    modals.Message(parent, *refusal);
    field->setFocus();
    field->selectAll();
    return false;
  }
  return true;
}

bool TakeAddressList(QLineEdit* field, std::string& list, Modals& modals, QWidget* parent) {
  std::string text = field->text().trimmed().toStdString();
  auto parsed = ParseAddressList(text);
  if (const auto* error = std::get_if<AddressListError>(&parsed)) {
    std::string why = DescribeAddressListError(*error);
    why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
    modals.Message(parent, why + ". Please enter addresses or prefixes separated by commas, such as " +
                               kAllowExample + ", or leave the field empty for every address.");
    // The offset counts bytes of the trimmed text; the field counts characters of its own.
    QString shown = field->text();
    int leading = 0;
    while (leading < shown.size() && shown[leading].isSpace()) ++leading;
    int start = leading + static_cast<int>(QString::fromStdString(text.substr(0, error->offset)).size());
    int length = static_cast<int>(QString::fromStdString(error->text).size());
    field->setFocus();
    field->setSelection(start, length);
    return false;
  }
  list = text;
  return true;
}

void BrowseForDirectory(QLineEdit* field, Modals& modals, QWidget* parent) {
  // The chooser opens where the field points, so that a neighbour of the current folder is a click away.
  std::string current = field->text().toStdString();
  std::error_code error;
  if (!std::filesystem::is_directory(current, error)) current.clear();
  std::optional<std::string> chosen = modals.ChooseDirectory(parent, "Select a Directory", current);
  if (!chosen || chosen->empty()) return;
  field->setText(QString::fromStdString(WithTrailingSeparator(*chosen)));
}

void ConfigPage::FillOnce() {
  if (m_filled) return;
  m_filled = true;
  Fill();
}

GeneralPage::GeneralPage(ConfigStore& config, Modals& modals, bool trayAvailable, QWidget* parent)
    : ConfigPage(parent),
      m_bSystemTray(cfg::ReadOnSheet(config, cfg::kSystemTray)),
      m_bQuorin(cfg::ReadOnSheet(config, cfg::kQuorin)),
      m_bIPv6(cfg::ReadOnSheet(config, cfg::kIPv6)),
      m_bFollowHardLinks(cfg::ReadOnSheet(config, cfg::kFollowHardLinks)),
      m_nKeepFinishedRows(cfg::ReadOnSheet(config, cfg::kKeepFinishedRows)),
      systemTray(CheckBox("&Iconize program to System Tray?", "systemTray", this)),
      quorin(CheckBox("Allow this program to boot &Quorins?", "quorin", this)),
      ipv6(CheckBox("&Serve IPv6 clients as well as IPv4 (from the next start of a service)", "ipv6", this)),
      followHardLinks(CheckBox("&Follow hard links (serve files with several links whoever owns them)",
                               "followHardLinks", this)),
      keepFinishedRows(DigitsEdit("keepFinishedRows", this)),
      m_modals(modals) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(systemTray);
  if (!trayAvailable) {
    systemTray->setEnabled(false);
    auto* why = new QLabel("This desktop has no system tray: the program always shows its window.", this);
    why->setObjectName("noTray");
    why->setWordWrap(true);
    why->setContentsMargins(22, 0, 0, 0);
    layout->addWidget(why);
  }
  quorin->setToolTip("1 answers before the data has gone: a cut transfer then looks complete");
  layout->addWidget(quorin);
  layout->addWidget(ipv6);
  layout->addWidget(followHardLinks);
  layout->addSpacing(8);
  auto* rows = new QHBoxLayout;
  rows->addWidget(FieldLabel("Finished rows the list &keeps (0: every row):", keepFinishedRows, this));
  rows->addWidget(keepFinishedRows);
  rows->addStretch(1);
  layout->addLayout(rows);
  layout->addStretch(1);
}

void GeneralPage::Fill() {
  systemTray->setChecked(m_bSystemTray != 0);
  quorin->setChecked(m_bQuorin != 0);
  ipv6->setChecked(m_bIPv6 != 0);
  followHardLinks->setChecked(m_bFollowHardLinks != 0);
  keepFinishedRows->setText(QString::number(m_nKeepFinishedRows));
}

bool GeneralPage::TakeBack() {
  if (!Shown()) return true;
  m_bSystemTray = Ticked(systemTray);
  m_bQuorin = Ticked(quorin);
  m_bIPv6 = Ticked(ipv6);
  m_bFollowHardLinks = Ticked(followHardLinks);
  std::optional<int> newKeep = TakeIntInRange(keepFinishedRows, 0, kMaxKeptRows, m_modals, this);
  if (!newKeep) return false;
  m_nKeepFinishedRows = *newKeep;
  return true;
}

TftpPage::TftpPage(ConfigStore& config, Modals& modals, QWidget* parent)
    : ConfigPage(parent),
      m_bMakeNewDirs(cfg::ReadOnSheet(config, cfg::kTMakeNewDirs)),
      m_bOverwrite(cfg::ReadOnSheet(config, cfg::kTOverWriteFiles)),
      m_strDir(cfg::ReadOnSheet(config, cfg::kTDLDir)),
      m_nTimeout(cfg::ReadOnSheet(config, cfg::kTTimeout)),
      m_nRetries(cfg::ReadOnSheet(config, cfg::kTRetries)),
      m_bOptions(cfg::ReadOnSheet(config, cfg::kTOptions)),
      m_nMaxBlockSize(cfg::ReadOnSheet(config, cfg::kTMaxBlockSize)),
      m_nMaxWindowSize(cfg::ReadOnSheet(config, cfg::kTMaxWindowSize)),
      m_nMemoryLimit(cfg::ReadOnSheet(config, cfg::kTMemoryLimit)),
      m_nPerAddress(cfg::ReadOnSheet(config, cfg::kTPerAddress)),
      m_strAllow(cfg::ReadWhole(config, cfg::kTAllow)),
      m_nPort(cfg::ReadOnSheet(config, cfg::kTPort)),
      makeNewDirs(CheckBox("Create &directory names in incoming file requests?", "makeNewDirs", this)),
      overwrite(CheckBox("Allow &overwrite of existing files?", "overwrite", this)),
      dir(Edit("dir", this)),
      browse(new QPushButton("&Browse Directories", this)),
      timeout(DigitsEdit("timeout", this)),
      retries(DigitsEdit("retries", this)),
      options(CheckBox("&Negotiate options (blksize, windowsize, tsize, timeout)", "options", this)),
      maxBlockSize(DigitsEdit("maxBlockSize", this)),
      maxWindowSize(DigitsEdit("maxWindowSize", this)),
      memoryLimit(DigitsEdit("memoryLimit", this)),
      perAddress(DigitsEdit("perAddress", this)),
      allow(AllowEdit("allow", this)),
      port(DigitsEdit("port", this)),
      m_modals(modals) {
  browse->setObjectName("browse");
  connect(browse, &QPushButton::clicked, this, [this] { BrowseForDirectory(dir, m_modals, this); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(makeNewDirs);
  layout->addWidget(overwrite);
  layout->addSpacing(8);
  layout->addWidget(FieldLabel("&Upload/Download directory: ", dir, this));
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(dir, 1);
  dirRow->addWidget(browse);
  layout->addLayout(dirRow);
  layout->addSpacing(8);
  auto* numbers = new QGridLayout;
  numbers->addWidget(FieldLabel("Per-packet &timeout in seconds (2-15):", timeout, this), 0, 0);
  numbers->addWidget(timeout, 0, 1);
  numbers->addWidget(FieldLabel("Maximum &retries (5-20): ", retries, this), 1, 0);
  numbers->addWidget(retries, 1, 1);
  numbers->addWidget(FieldLabel("&Port (1-65535):", port, this), 2, 0);
  numbers->addWidget(port, 2, 1);
  numbers->setColumnStretch(2, 1);
  layout->addLayout(numbers);
  layout->addSpacing(8);
  layout->addWidget(options);
  auto* limits = new QGridLayout;
  limits->addWidget(FieldLabel("Largest block si&ze granted (512-65464):", maxBlockSize, this), 0, 0);
  limits->addWidget(maxBlockSize, 0, 1);
  limits->addWidget(FieldLabel("Largest &window granted, in blocks (1-64):", maxWindowSize, this), 1, 0);
  limits->addWidget(maxWindowSize, 1, 1);
  limits->addWidget(FieldLabel("&Memory for blocks in flight (MiB, 1-65536):", memoryLimit, this), 2, 0);
  limits->addWidget(memoryLimit, 2, 1);
  limits->addWidget(FieldLabel("&Sessions per address (0: no limit):", perAddress, this), 3, 0);
  limits->addWidget(perAddress, 3, 1);
  limits->setColumnStretch(2, 1);
  layout->addLayout(limits);
  layout->addSpacing(8);
  layout->addWidget(FieldLabel("&Addresses served (empty: every address):", allow, this));
  layout->addWidget(allow);
  layout->addStretch(1);
}

void TftpPage::Fill() {
  makeNewDirs->setChecked(m_bMakeNewDirs != 0);
  overwrite->setChecked(m_bOverwrite != 0);
  dir->setText(QString::fromStdString(m_strDir));
  timeout->setText(QString::number(m_nTimeout));
  retries->setText(QString::number(m_nRetries));
  options->setChecked(m_bOptions != 0);
  maxBlockSize->setText(QString::number(m_nMaxBlockSize));
  maxWindowSize->setText(QString::number(m_nMaxWindowSize));
  memoryLimit->setText(QString::number(m_nMemoryLimit));
  perAddress->setText(QString::number(m_nPerAddress));
  allow->setText(QString::fromStdString(m_strAllow));
  port->setText(QString::number(m_nPort));
  // The field shows the value as read; the member, once the page has been shown, ends in a separator.
  m_strDir = WithTrailingSeparator(m_strDir);
}

bool TftpPage::TakeBack() {
  if (!Shown()) return true;
  m_strDir = dir->text().toStdString();
  m_bMakeNewDirs = Ticked(makeNewDirs);
  m_bOverwrite = Ticked(overwrite);
  std::optional<int> newRetries = TakeIntInRange(retries, 5, 20, m_modals, this);
  if (!newRetries) return false;
  m_nRetries = *newRetries;
  std::optional<int> newTimeout = TakeIntInRange(timeout, 2, 15, m_modals, this);
  if (!newTimeout) return false;
  m_nTimeout = *newTimeout;
  m_bOptions = Ticked(options);
  std::optional<int> newMaxBlockSize =
      TakeIntInRange(maxBlockSize, kSmallestMaxBlockSize, tftp::kMaxBlockSize, m_modals, this);
  if (!newMaxBlockSize) return false;
  m_nMaxBlockSize = *newMaxBlockSize;
  std::optional<int> newMaxWindowSize =
      TakeIntInRange(maxWindowSize, tftp::kMinWindowSize, tftp::kMaxGrantedWindowSize, m_modals, this);
  if (!newMaxWindowSize) return false;
  m_nMaxWindowSize = *newMaxWindowSize;
  std::optional<int> newMemoryLimit = TakeIntInRange(memoryLimit, 1, kMaxMemoryLimit, m_modals, this);
  if (!newMemoryLimit) return false;
  m_nMemoryLimit = *newMemoryLimit;
  std::optional<int> newPerAddress = TakeIntInRange(perAddress, 0, kMaxPerAddress, m_modals, this);
  if (!newPerAddress) return false;
  m_nPerAddress = *newPerAddress;
  if (!TakeAddressList(allow, m_strAllow, m_modals, this)) return false;
  std::optional<int> newPort = TakeIntInRange(port, 1, kMaxPort, m_modals, this);
  if (!newPort) return false;
  m_nPort = *newPort;
  return ValidateDirectory(m_strDir, dir, m_modals, this);
}

FtpPage::FtpPage(ConfigStore& config, Modals& modals, std::function<void()> onEditUsers,
                 ServerTlsAccess tlsAccess, QWidget* parent)
    : ConfigPage(parent),
      m_bAnonAllowed(cfg::ReadOnSheet(config, cfg::kAnonAllowed)),
      m_bAllowDownload(cfg::ReadOnSheet(config, cfg::kFAllowDownload)),
      m_bAllowUpload(cfg::ReadOnSheet(config, cfg::kFAllowUpload)),
      m_bOverwrite(cfg::ReadOnSheet(config, cfg::kFOverwrite)),
      m_strDir(cfg::ReadOnSheet(config, cfg::kFDLDir)),
      m_bUserSecurity(cfg::ReadOnSheet(config, cfg::kUserSecurity)),
      m_nIdleTimeout(cfg::ReadOnSheet(config, cfg::kFIdleTimeout)),
      m_nDataTimeout(cfg::ReadOnSheet(config, cfg::kFDataTimeout)),
      m_bPassive(cfg::ReadOnSheet(config, cfg::kFPassive)),
      m_strPassivePorts(cfg::ReadOnSheet(config, cfg::kFPassivePorts)),
      m_strPassiveAddress(cfg::ReadOnSheet(config, cfg::kFPassiveAddress)),
      m_nPerAddress(cfg::ReadOnSheet(config, cfg::kFPerAddress)),
      m_strAllow(cfg::ReadWhole(config, cfg::kFAllow)),
      m_nPort(cfg::ReadOnSheet(config, cfg::kFPort)),
      m_nDataPort(cfg::ReadOnSheet(config, cfg::kFDataPort)),
      anonAllowed(CheckBox("&Allow anonymous access?   ", "anonAllowed", this)),
      allowDownload(CheckBox("Allow anonymous to &download files?", "allowDownload", this)),
      allowUpload(CheckBox("Allow anonymous to upload &files? ", "allowUpload", this)),
      overwrite(CheckBox("Allow anonymous to &overwrite files? ", "overwrite", this)),
      dir(Edit("dir", this)),
      browse(new QPushButton("&Browse", this)),
      userSecurity(CheckBox("&Implement user-level security?", "userSecurity", this)),
      editUsers(new QPushButton("  &Edit User Profile / Security List  ", this)),
      idleTimeout(DigitsEdit("idleTimeout", this)),
      dataTimeout(DigitsEdit("dataTimeout", this)),
      passive(CheckBox("Allow passive &mode (PASV, EPSV)?", "passive", this)),
      passivePorts(Edit("passivePorts", this)),
      passiveAddress(Edit("passiveAddress", this)),
      perAddress(DigitsEdit("perAddress", this)),
      allow(AllowEdit("allow", this)),
      port(DigitsEdit("port", this)),
      dataPort(DigitsEdit("dataPort", this)),
      tls(new FtpTlsBox(config, modals, std::move(tlsAccess), this)),
      m_modals(modals) {
  browse->setObjectName("browse");
  editUsers->setObjectName("editUsers");
  connect(browse, &QPushButton::clicked, this, [this] { BrowseForDirectory(dir, m_modals, this); });
  connect(editUsers, &QPushButton::clicked, this, [onEditUsers] {
    if (onEditUsers) onEditUsers();
  });

  auto* anonymous = new QGroupBox(" Anonymous Access ", this);
  auto* anonymousLayout = new QVBoxLayout(anonymous);
  anonymousLayout->addWidget(anonAllowed);
  anonymousLayout->addWidget(allowDownload);
  anonymousLayout->addWidget(allowUpload);
  anonymousLayout->addWidget(overwrite);
  anonymousLayout->addWidget(FieldLabel("Anonymous &Upload/Download directory: ", dir, anonymous));
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(dir, 1);
  dirRow->addWidget(browse);
  anonymousLayout->addLayout(dirRow);

  auto* users = new QGroupBox(" User Level Security ", this);
  auto* usersLayout = new QVBoxLayout(users);
  usersLayout->addWidget(userSecurity);
  auto* note = new QGroupBox(" Note ", users);
  auto* noteLayout = new QVBoxLayout(note);
  auto* noteText = new QLabel(
      QString::fromStdString(DisplayText(
          "To allow additional rights for \"anonymous\"\r\nenable user-level security and\r\n"
          "provide a user profile for \"anonymous\"\r\nin the \"Edit User Profile\" section below:")),
      note);
  noteText->setObjectName("note");
  noteText->setTextFormat(Qt::PlainText);
  noteLayout->addWidget(noteText);
  usersLayout->addWidget(note);
  usersLayout->addWidget(editUsers, 0, Qt::AlignHCenter);

  auto* limits = new QGroupBox(" Idle Limits (seconds, 0: none) ", this);
  auto* limitsLayout = new QGridLayout(limits);
  limitsLayout->addWidget(FieldLabel("Close connections idle for (0-&86400): ", idleTimeout, limits), 0, 0);
  limitsLayout->addWidget(idleTimeout, 0, 1);
  limitsLayout->addWidget(FieldLabel("Abort transfers stalled for (0-8&6400): ", dataTimeout, limits), 1, 0);
  limitsLayout->addWidget(dataTimeout, 1, 1);
  limitsLayout->addWidget(FieldLabel("Connections per address (0-65535, 0: no &limit): ", perAddress, limits),
                          2, 0);
  limitsLayout->addWidget(perAddress, 2, 1);
  limitsLayout->addWidget(FieldLabel("Addresses ser&ved (empty: every address): ", allow, limits), 3, 0, 1,
                          2);
  limitsLayout->addWidget(allow, 4, 0, 1, 2);

  auto* passiveBox = new QGroupBox(" Passive Mode ", this);
  auto* passiveLayout = new QGridLayout(passiveBox);
  passiveLayout->addWidget(passive, 0, 0, 1, 2);
  passiveLayout->addWidget(FieldLabel("Ports (0: any, or &50000-50100): ", passivePorts, passiveBox), 1, 0);
  passiveLayout->addWidget(passivePorts, 1, 1);
  passiveLayout->addWidget(FieldLabel("Announced address (empt&y: local): ", passiveAddress, passiveBox), 2,
                           0);
  passiveLayout->addWidget(passiveAddress, 2, 1);

  auto* portsBox = new QGroupBox(" Ports ", this);
  auto* portsLayout = new QGridLayout(portsBox);
  portsLayout->addWidget(FieldLabel("Control port (&1-65535): ", port, portsBox), 0, 0);
  portsLayout->addWidget(port, 0, 1);
  portsLayout->addWidget(FieldLabel("Active data source port (&0: any free port): ", dataPort, portsBox), 1,
                         0);
  portsLayout->addWidget(dataPort, 1, 1);
  portsLayout->setColumnStretch(2, 1);
  auto* rightColumn = new QVBoxLayout;
  rightColumn->addWidget(passiveBox);
  rightColumn->addWidget(portsBox);

  // Two columns: the page in one would not fit a screen of 800 pixels.
  auto* layout = new QGridLayout(this);
  layout->addWidget(anonymous, 0, 0);
  layout->addWidget(users, 1, 0);
  layout->addWidget(limits, 0, 1);
  layout->addLayout(rightColumn, 1, 1);
  layout->addWidget(tls, 2, 0, 1, 2);
  layout->setRowStretch(3, 1);
}

void FtpPage::Fill() {
  anonAllowed->setChecked(m_bAnonAllowed != 0);
  allowDownload->setChecked(m_bAllowDownload != 0);
  allowUpload->setChecked(m_bAllowUpload != 0);
  overwrite->setChecked(m_bOverwrite != 0);
  dir->setText(QString::fromStdString(m_strDir));
  userSecurity->setChecked(m_bUserSecurity != 0);
  idleTimeout->setText(QString::number(m_nIdleTimeout));
  dataTimeout->setText(QString::number(m_nDataTimeout));
  passive->setChecked(m_bPassive != 0);
  passivePorts->setText(QString::fromStdString(m_strPassivePorts));
  passiveAddress->setText(QString::fromStdString(m_strPassiveAddress));
  perAddress->setText(QString::number(m_nPerAddress));
  allow->setText(QString::fromStdString(m_strAllow));
  port->setText(QString::number(m_nPort));
  dataPort->setText(QString::number(m_nDataPort));
  tls->Fill();
  m_strDir = WithTrailingSeparator(m_strDir);
}

bool FtpPage::TakeBack() {
  if (!Shown()) return true;
  m_bAnonAllowed = Ticked(anonAllowed);
  m_bAllowDownload = Ticked(allowDownload);
  m_bAllowUpload = Ticked(allowUpload);
  m_bOverwrite = Ticked(overwrite);
  m_bUserSecurity = Ticked(userSecurity);
  std::optional<int> newIdleTimeout = TakeIntInRange(idleTimeout, 0, 86400, m_modals, this);
  if (!newIdleTimeout) return false;
  m_nIdleTimeout = *newIdleTimeout;
  std::optional<int> newDataTimeout = TakeIntInRange(dataTimeout, 0, 86400, m_modals, this);
  if (!newDataTimeout) return false;
  m_nDataTimeout = *newDataTimeout;
  std::optional<int> newPerAddress = TakeIntInRange(perAddress, 0, kMaxPerAddress, m_modals, this);
  if (!newPerAddress) return false;
  m_nPerAddress = *newPerAddress;
  if (!TakeAddressList(allow, m_strAllow, m_modals, this)) return false;
  m_bPassive = Ticked(passive);
  std::string ports = passivePorts->text().trimmed().toStdString();
  if (!ftpd::ParsePortRange(ports)) {
    m_modals.Message(this, "Please enter 0 or a range of ports such as 50000-50100.");
    passivePorts->setFocus();
    passivePorts->selectAll();
    return false;
  }
  m_strPassivePorts = ports;
  std::string address = passiveAddress->text().trimmed().toStdString();
  if (!address.empty() && !ftpd::ParseIpv4(address)) {
    m_modals.Message(this, "Please enter an IPv4 address such as 192.0.2.7, or leave the field empty.");
    passiveAddress->setFocus();
    passiveAddress->selectAll();
    return false;
  }
  m_strPassiveAddress = address;
  std::optional<int> newPort = TakeIntInRange(port, 1, kMaxPort, m_modals, this);
  if (!newPort) return false;
  m_nPort = *newPort;
  // 0 lets the system choose the source port of each active data connection.
  std::optional<int> newDataPort = TakeIntInRange(dataPort, 0, kMaxPort, m_modals, this);
  if (!newDataPort) return false;
  m_nDataPort = *newDataPort;
  if (!tls->TakeBack()) return false;
  m_strDir = dir->text().toStdString();
  return ValidateDirectory(m_strDir, dir, m_modals, this);
}

}  // namespace hx
