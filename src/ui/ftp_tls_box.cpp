#include "ui/ftp_tls_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <filesystem>

#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/transfer_log.h"
#include "tls/certificate.h"
#include "tls/server_tls.h"
#include "ui/dialog_checks.h"
#include "ui/field_label.h"
#include "ui/modals.h"
#include "ui/session_model.h"

namespace hx {
namespace {

constexpr int kTlsRequired = 2;
constexpr int kMaxPort = 65535;
constexpr const char* kRenewQuestion = "Make a new certificate? Clients that trust the old one will warn.";
constexpr const char* kBlank = "This field cannot be left blank.";

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

QCheckBox* CheckBox(const char* text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

FtpTlsBox::FtpTlsBox(ConfigStore& config, Modals& modals, ServerTlsAccess access, QWidget* parent)
    : QGroupBox(" TLS ", parent),
      m_nTls(cfg::ReadOnSheet(config, cfg::kFTLS)),
      m_strCertificate(cfg::ReadOnSheet(config, cfg::kFTLSCertificate)),
      m_strKey(cfg::ReadOnSheet(config, cfg::kFTLSKey)),
      m_bRequireReuse(cfg::ReadOnSheet(config, cfg::kFTLSRequireReuse)),
      m_bAnonymousPlain(cfg::ReadOnSheet(config, cfg::kFTLSAnonymousPlain)),
      m_nImplicitPort(cfg::ReadOnSheet(config, cfg::kFImplicitPort)),
      mode(new QComboBox(this)),
      certificate(Edit("certificate", this)),
      browseCertificate(Button("B&rowse", "browseCertificate", this)),
      key(Edit("key", this)),
      browseKey(Button("Brow&se", "browseKey", this)),
      requireReuse(CheckBox("Data connections must resume t&he TLS session", "requireReuse", this)),
      anonymousPlain(CheckBox("Anonymous logins &without TLS", "anonymousPlain", this)),
      implicitPort(Edit("implicitPort", this)),
      fingerprint(Edit("fingerprint", this)),
      problem(new QLabel(this)),
      newCertificate(Button("&New certificate", "newCertificate", this)),
      m_config(config),
      m_modals(modals),
      m_access(std::move(access)) {
  setObjectName("tls");
  mode->setObjectName("tlsMode");
  mode->addItems({"Off", "Offered", "Required"});
  implicitPort->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), implicitPort));
  implicitPort->setMaximumWidth(60);
  fingerprint->setReadOnly(true);
  fingerprint->setPlaceholderText("No certificate in use");
  problem->setObjectName("tlsProblem");
  problem->setWordWrap(true);
  problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette red = problem->palette();
  red.setColor(QPalette::WindowText, ErrorColour(red));
  problem->setPalette(red);
  newCertificate->setEnabled(m_access.serverTls != nullptr);
  connect(browseCertificate, &QPushButton::clicked, this, [this] { BrowseFile(certificate); });
  connect(browseKey, &QPushButton::clicked, this, [this] { BrowseFile(key); });
  connect(newCertificate, &QPushButton::clicked, this, &FtpTlsBox::OnNewCertificate);
  connect(mode, &QComboBox::currentIndexChanged, this,
          [this](int index) { anonymousPlain->setEnabled(index == kTlsRequired); });

  auto* layout = new QGridLayout(this);
  auto* modeRow = new QHBoxLayout;
  modeRow->addWidget(mode);
  modeRow->addSpacing(16);
  modeRow->addWidget(FieldLabel("Implicit TLS &port (0 = off)", implicitPort, this));
  modeRow->addWidget(implicitPort);
  modeRow->addStretch(1);
  layout->addWidget(FieldLabel("&TLS:", mode, this), 0, 0);
  layout->addLayout(modeRow, 0, 1, 1, 2);
  layout->addWidget(FieldLabel("&Certificate file:", certificate, this), 1, 0);
  layout->addWidget(certificate, 1, 1);
  layout->addWidget(browseCertificate, 1, 2);
  layout->addWidget(FieldLabel("&Key file:", key, this), 2, 0);
  layout->addWidget(key, 2, 1);
  layout->addWidget(browseKey, 2, 2);
  layout->addWidget(requireReuse, 3, 0, 1, 3);
  layout->addWidget(anonymousPlain, 4, 0, 1, 3);
  layout->addWidget(FieldLabel("Fin&gerprint:", fingerprint, this), 5, 0);
  layout->addWidget(fingerprint, 5, 1);
  layout->addWidget(newCertificate, 5, 2);
  layout->addWidget(problem, 6, 0, 1, 3);
  layout->setColumnStretch(1, 1);
  ShowCertificate();
}

void FtpTlsBox::Fill() {
  // A value beyond the three modes shows as the nearest one; it is written back as shown.
  mode->setCurrentIndex(std::clamp(m_nTls, 0, kTlsRequired));
  anonymousPlain->setEnabled(mode->currentIndex() == kTlsRequired);
  certificate->setText(ToQt(m_strCertificate));
  key->setText(ToQt(m_strKey));
  requireReuse->setChecked(m_bRequireReuse != 0);
  anonymousPlain->setChecked(m_bAnonymousPlain != 0);
  implicitPort->setText(QString::number(m_nImplicitPort));
}

bool FtpTlsBox::TakeBack() {
  std::optional<int> port = TakeIntInRange(implicitPort, 0, kMaxPort, m_modals, this);
  if (!port) return false;
  // An empty name would stand for the program directory itself.
  for (QLineEdit* file : {certificate, key}) {
    if (!file->text().trimmed().isEmpty()) continue;
    m_modals.Message(this, kBlank);
    file->setFocus();
    return false;
  }
  m_nImplicitPort = *port;
  m_nTls = mode->currentIndex();
  m_strCertificate = certificate->text().trimmed().toStdString();
  m_strKey = key->text().trimmed().toStdString();
  m_bRequireReuse = requireReuse->isChecked() ? 1 : 0;
  m_bAnonymousPlain = anonymousPlain->isChecked() ? 1 : 0;
  return true;
}

void FtpTlsBox::ShowCertificate() {
  std::string shown;
  std::string reason;
  if (m_access.serverTls) {
    shown = m_access.serverTls->Fingerprint();
    reason = m_access.serverTls->Problem();
  }
  if (shown.empty() && reason.empty()) {
    // TLS is off: the certificate that switching it on would use, if there is one.
    std::string file =
        tls::ServerTls::ResolveFile(cfg::Read(m_config, cfg::kFTLSCertificate), m_access.appDir);
    std::string unreadable;
    if (std::filesystem::exists(file)) shown = tls::CertificateFingerprint(file, unreadable).value_or("");
  }
  fingerprint->setText(ToQt(shown));
  fingerprint->setCursorPosition(0);
  // The whole fingerprint in view, for comparing it with what a client shows.
  int textWidth = fingerprint->fontMetrics().horizontalAdvance(fingerprint->text());
  fingerprint->setMinimumWidth(
      shown.empty() ? 0 : textWidth + 2 * fingerprint->fontMetrics().averageCharWidth() + 8);
  problem->setText(ToQt(reason.empty() ? "" : "TLS is off: " + reason));
  problem->setVisible(!reason.empty());
}

void FtpTlsBox::OnNewCertificate() {
  if (!m_access.serverTls || !m_modals.Question(this, kRenewQuestion)) return;
  // The files are those of the stored settings: names typed on the page count once the sheet is confirmed.
  std::string line = m_access.serverTls->Renew(m_config, m_access.appDir);
  if (!line.empty() && m_access.log) m_access.log->OnLogLine(cfg::kSourceFtp, line);
  ShowCertificate();
}

void FtpTlsBox::BrowseFile(QLineEdit* field) {
  std::filesystem::path current =
      tls::ServerTls::ResolveFile(field->text().trimmed().toStdString(), m_access.appDir);
  std::error_code error;
  std::string start = std::filesystem::is_directory(current.parent_path(), error)
                          ? current.parent_path().string()
                          : m_access.appDir;
  std::optional<std::string> chosen = m_modals.ChooseFile(this, start, /*forSaving=*/false);
  if (!chosen || chosen->empty()) return;
  // A file of the program directory is named alone, as the defaults are, so that the folder can move.
  std::filesystem::path path(*chosen);
  bool inAppDir = path.parent_path().string() + "/" == m_access.appDir;
  field->setText(ToQt(inAppDir ? path.filename().string() : *chosen));
}

}  // namespace hx
