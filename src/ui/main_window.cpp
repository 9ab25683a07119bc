#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/config_keys.h"
#include "app/server_app.h"
#include "ui/art.h"
#include "ui/beside_gui.h"
#include "ui/modals.h"
#include "ui/notice_pane.h"
#include "ui/session_actions.h"
#include "ui/session_filter.h"
#include "ui/session_model.h"
#include "ui/session_view.h"
#include "ui/splash_panel.h"
#include "ui/window_frontend.h"
#include "ui/window_placement.h"

namespace hx {
namespace {

constexpr const cfg::IntSetting* kColumnWidths[kListColumns] = {
    &cfg::kWidthTime,  &cfg::kWidthType,     &cfg::kWidthPeer,    &cfg::kWidthFile,
    &cfg::kWidthBytes, &cfg::kWidthProgress, &cfg::kWidthCommand, &cfg::kWidthStatus};

// The default widths suit an 8-point font whose letters average 6 pixels; other fonts scale them.
constexpr double kDefaultsCharWidth = 6.0;
// How often Progress and the activity pane are brought up to date.
constexpr int kMeasureIntervalMs = 400;

constexpr const char* kTftpOffWarning = "Warning! This will disable the TFTP Server\nDo you wish to proceed?";
constexpr const char* kFtpOffWarning = "Warning! This will disable the FTP Server\nDo you wish to proceed?";
constexpr const char* kNoTrayMessage =
    "This desktop has no system tray, so Harbinex cannot live in the tray: the window is shown instead, and "
    "minimising it keeps it on the task bar.";

}  // namespace

MainWindow::MainWindow(ServerApp& app, WindowFrontend& frontend, Modals& modals, ClientLauncher launcher,
                       WindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      m_app(app),
      m_frontend(frontend),
      m_modals(modals),
      m_launcher(std::move(launcher)),
      m_options(std::move(options)) {
  setWindowTitle("Harbinex");
  setWindowIcon(ProgramIcon());
  BuildActions();
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  BuildList();
  BuildTray();
  m_frontend.SetDialogParent(this);
  m_frontend.SetNoticeSink([this](std::vector<SessionNotice>& batch) {
    m_model->Apply(batch, [this] { return m_app.Registry().Rows(); });
  });
  m_frontend.SetMessageSink([this](const std::string& text) { m_notices->Add(text); });
  m_measureTimer.setInterval(kMeasureIntervalMs);
  connect(&m_measureTimer, &QTimer::timeout, this, &MainWindow::Measure);
  m_measureTimer.start();
}

MainWindow::~MainWindow() {
  m_frontend.SetNoticeSink(nullptr);
  m_frontend.SetMessageSink(nullptr);
  m_frontend.SetDialogParent(nullptr);
}

QAction* MainWindow::MakeAction(Command command, void (MainWindow::*slot)()) {
  const CommandText& text = TextOf(command);
  auto* action = new QAction(text.menuText, this);
  action->setStatusTip(text.prompt);
  action->setToolTip(text.prompt);
  action->setShortcut(QKeySequence(text.shortcut));
  connect(action, &QAction::triggered, this, slot);
  m_actions[command] = action;
  return action;
}

QAction* MainWindow::Action(Command command) const {
  auto it = m_actions.find(command);
  return it == m_actions.end() ? nullptr : it->second;
}

void MainWindow::BuildActions() {
  MakeAction(Command::Config, &MainWindow::OnConfig);
  MakeAction(Command::EnableLogging, &MainWindow::OnEnableLogging)->setCheckable(true);
  MakeAction(Command::EnableDebugging, &MainWindow::OnEnableDebugging)->setCheckable(true);
  MakeAction(Command::Exit, &MainWindow::OnOK);
  MakeAction(Command::LogOutput, &MainWindow::OnLogOutput);
  MakeAction(Command::DebugOutput, &MainWindow::OnDebugOutput);
  MakeAction(Command::ToggleStatusWindow, &MainWindow::OnToggleStatusWindow);
  MakeAction(Command::ClearCompleted, &MainWindow::OnClearCompleted);
  MakeAction(Command::ToggleTftp, &MainWindow::OnToggleTftp);
  MakeAction(Command::ToggleFtp, &MainWindow::OnToggleFtp);
  MakeAction(Command::FtpClientGet, &MainWindow::OnFtpClientGet);
  MakeAction(Command::FtpClientPut, &MainWindow::OnFtpClientPut);
  MakeAction(Command::TftpClientGet, &MainWindow::OnTftpClientGet);
  MakeAction(Command::TftpClientPut, &MainWindow::OnTftpClientPut);
  MakeAction(Command::HelpContents, &MainWindow::OnHelpContents);
  MakeAction(Command::Web, &MainWindow::OnWeb);
  MakeAction(Command::About, &MainWindow::OnAbout);
  MakeAction(Command::ShowWindow, &MainWindow::OnShowWindow);
  Action(Command::Exit)->setMenuRole(QAction::QuitRole);
  Action(Command::About)->setMenuRole(QAction::AboutRole);
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(Action(Command::Config));
  file->addAction(Action(Command::EnableLogging));
  file->addAction(Action(Command::EnableDebugging));
  file->addSeparator();
  file->addAction(Action(Command::Exit));
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction(Action(Command::LogOutput));
  view->addAction(Action(Command::DebugOutput));
  view->addAction(Action(Command::ToggleStatusWindow));
  view->addAction(Action(Command::ClearCompleted));
  QMenu* server = menuBar()->addMenu("&Server Control");
  server->addAction(Action(Command::ToggleTftp));
  server->addAction(Action(Command::ToggleFtp));
  QMenu* clients = menuBar()->addMenu("C&lients");
  clients->addAction(Action(Command::FtpClientGet));
  clients->addAction(Action(Command::FtpClientPut));
  clients->addAction(Action(Command::TftpClientGet));
  clients->addAction(Action(Command::TftpClientPut));
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(Action(Command::HelpContents));
  help->addAction(Action(Command::Web));
  help->addAction(Action(Command::About));
}

void MainWindow::BuildToolBar() {
  m_toolBar = addToolBar("Toolbar");
  m_toolBar->setObjectName("toolbar");
  m_toolBar->setMovable(false);
  m_toolBar->setFloatable(false);
  m_toolBar->setIconSize(QSize(32, 32));
  m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_toolBar->toggleViewAction()->setEnabled(false);
  setContextMenuPolicy(Qt::NoContextMenu);

  // The service buttons are check boxes, pressed while their service is on; they change command, image and
  // tip with the state.
  m_tftpButton = new QAction(this);
  m_tftpButton->setCheckable(true);
  connect(m_tftpButton, &QAction::triggered, this, [this](bool checked) { checked ? TftpOn() : TftpOff(); });
  m_ftpButton = new QAction(this);
  m_ftpButton->setCheckable(true);
  connect(m_ftpButton, &QAction::triggered, this, [this](bool checked) { checked ? FtpOn() : FtpOff(); });
  ShowTftpState(false);
  ShowFtpState(false);

  auto* config = new QAction(ToolbarIcon(ToolbarImage::Config), "&Config", this);
  auto* exit = new QAction(ToolbarIcon(ToolbarImage::Exit), "E&xit", this);
  for (auto [action, command] : {std::pair{config, Command::Config}, std::pair{exit, Command::Exit}}) {
    action->setToolTip(TextOf(command).prompt);
    action->setStatusTip(TextOf(command).prompt);
    connect(action, &QAction::triggered, Action(command), &QAction::trigger);
  }
  m_toolBar->addAction(m_tftpButton);
  m_toolBar->addSeparator();
  m_toolBar->addAction(m_ftpButton);
  m_toolBar->addSeparator();
  m_toolBar->addAction(config);
  m_toolBar->addSeparator();
  m_toolBar->addAction(exit);
  m_toolBar->addSeparator();
  for (QAction* action : m_toolBar->actions())
    if (QWidget* button = m_toolBar->widgetForAction(action); button && !action->isSeparator())
      button->setFixedSize(39, 38);
}

void MainWindow::BuildStatusBar() {
  auto makePane = [this](const char* widest) {
    auto* pane = new QLabel(this);
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(widest) + 8);
    return pane;
  };
  m_tftpPane = makePane(kTftpOffPane);
  m_ftpPane = makePane(kFtpOffPane);
  m_promptPane = new QLabel(kReadyPrompt, this);
  m_promptPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_promptPane->setMinimumWidth(40);
  statusBar()->addWidget(m_tftpPane);
  statusBar()->addWidget(m_ftpPane);
  statusBar()->addWidget(m_promptPane, 1);
  m_notices = new NoticePane(this);
  statusBar()->addWidget(m_notices, 1);
  m_activityPane = new QLabel(this);
  m_activityPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_activityPane->setMinimumWidth(
      m_activityPane->fontMetrics().horizontalAdvance(ActivityText({999, 999.9e6})) + 8);
  m_activityPane->setText(ActivityText({}));
  statusBar()->addPermanentWidget(m_activityPane);
  statusBar()->setSizeGripEnabled(true);
  m_tftpPane->setText(kTftpOffPane);
  m_ftpPane->setText(kFtpOffPane);
}

void MainWindow::BuildList() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  m_model = new SessionModel(this);
  m_model->SetErrorColour(ErrorColour(palette()));
  m_sorted = new SessionFilter(m_model, this);
  m_filterBox = new SessionFilterBox(m_sorted, central);
  layout->addWidget(m_filterBox);
  auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
  connect(find, &QShortcut::activated, this, [this] {
    m_filterBox->setFocus(Qt::ShortcutFocusReason);
    m_filterBox->selectAll();
  });
  m_list = new SessionView(central);
  m_list->setModel(m_sorted);
  m_rowActions = new SessionActions(
      *m_list, m_app.Registry(), m_options.openUrl,
      [this](int source, const std::string& line) { m_app.Log().OnLogLine(source, line); }, this);
  layout->addWidget(m_list);
  setCentralWidget(central);
  ReadColumnWidths();
}

void MainWindow::BuildTray() {
  m_trayMenu = new QMenu(this);
  auto add = [this](const char* text, void (MainWindow::*slot)()) {
    QAction* action = m_trayMenu->addAction(text);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  QAction* about = add("&About", &MainWindow::OnAbout);
  m_trayMenu->setDefaultAction(about);
  m_trayMenu->addSeparator();
  add("&Configure", &MainWindow::OnConfig);
  add("&Show Window", &MainWindow::OnShowWindow);
  m_trayMenu->addSeparator();
  add("Toggle &FTP", &MainWindow::OnToggleFtp);
  add("Toggle &TFTP", &MainWindow::OnToggleTftp);
  m_trayMenu->addSeparator();
  add("E&xit", &MainWindow::OnOK);
  connect(&m_trayIcon, &TrayIcon::DoubleClicked, this, &MainWindow::OnTrayDoubleClick);
}

bool MainWindow::Start() {
  m_bInitializing = true;
  bool started = RunBesideGui([this] { return m_app.InitInstance(); });
  m_frontend.Drain();
  ApplyKeepFinishedRows();
  ShowTftpState(m_app.TftpServiceOn());
  ShowFtpState(m_app.FtpServiceOn());
  Action(Command::EnableLogging)->setChecked(m_app.Log().Logging());
  Action(Command::EnableDebugging)->setChecked(false);
  ShowPrompt(kReadyPrompt);
  m_bInitializing = false;
  if (!started) {
    // The program ends here, so what the start reported waits for the operator this time, box after box.
    m_notices->CloseBox();
    for (const std::string& line : m_notices->Lines()) m_modals.Message(nullptr, line);
    return false;
  }

  // Placed before anything shows, so that a window first shown from the tray comes where it was left.
  if (ReadPlacement()) setWindowState(windowState() | Qt::WindowMaximized);
  bool trayAvailable = m_options.trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
  m_trayIcon.Install(this, kTrayTip, ProgramIcon(), m_trayMenu, trayAvailable);
  if (SystemTraySet() && m_trayIcon.Available()) return true;  // only the icon shows
  if (SystemTraySet()) m_modals.Message(nullptr, kNoTrayMessage);
  show();
  if (m_options.splash) ShowSplash(this);
  return true;
}

bool MainWindow::SystemTraySet() const {
  return cfg::Read(m_app.Config(), cfg::kSystemTray) != 0;
}

void MainWindow::ShowTftpState(bool on) {
  Command command = on ? Command::TftpIsOn : Command::TftpIsOff;
  m_tftpButton->setIcon(ToolbarIcon(on ? ToolbarImage::TftpOn : ToolbarImage::TftpOff));
  m_tftpButton->setText(on ? "TFTP On" : "TFTP Off");
  m_tftpButton->setToolTip(TextOf(command).prompt);
  m_tftpButton->setStatusTip(TextOf(command).prompt);
  m_tftpButton->setChecked(on);
  if (m_tftpPane) m_tftpPane->setText(on ? kTftpOnPane : kTftpOffPane);
}

void MainWindow::ShowFtpState(bool on) {
  Command command = on ? Command::FtpIsOn : Command::FtpIsOff;
  m_ftpButton->setIcon(ToolbarIcon(on ? ToolbarImage::FtpOn : ToolbarImage::FtpOff));
  m_ftpButton->setText(on ? "FTP On" : "FTP Off");
  m_ftpButton->setToolTip(TextOf(command).prompt);
  m_ftpButton->setStatusTip(TextOf(command).prompt);
  m_ftpButton->setChecked(on);
  if (m_ftpPane) m_ftpPane->setText(on ? kFtpOnPane : kFtpOffPane);
}

void MainWindow::TftpOn() {
  ShowTftpState(true);
  bool on = RunBesideGui([this] { return m_app.SetTftpService(true); });
  ShowTftpState(on);
}

void MainWindow::TftpOff() {
  if (!m_bInitializing && !m_modals.Question(this, kTftpOffWarning, Modals::Icon::Exclamation)) {
    TftpOn();
    return;
  }
  ShowTftpState(false);
  RunBesideGui([this] { return m_app.SetTftpService(false); });
}

void MainWindow::FtpOn() {
  ShowFtpState(true);
  bool on = RunBesideGui([this] { return m_app.SetFtpService(true); });
  ShowFtpState(on);
}

void MainWindow::FtpOff() {
  if (!m_bInitializing && !m_modals.Question(this, kFtpOffWarning, Modals::Icon::Exclamation)) {
    FtpOn();
    return;
  }
  ShowFtpState(false);
  RunBesideGui([this] { return m_app.SetFtpService(false); });
}

void MainWindow::OnToggleTftp() {
  // The menu follows the stored setting, which the two switches keep equal to the service state.
  if (cfg::Read(m_app.Config(), cfg::kTftpServer) != 0)
    TftpOff();
  else
    TftpOn();
}

void MainWindow::OnToggleFtp() {
  if (cfg::Read(m_app.Config(), cfg::kFtpServer) != 0)
    FtpOff();
  else
    FtpOn();
}

void MainWindow::OnEnableLogging() {
  QAction* action = Action(Command::EnableLogging);
  if (action->isChecked()) {
    if (!m_app.Log().EnableLogging()) action->setChecked(false);
  } else if (!m_bInitializing) {
    m_app.Log().DisableLogging();
    action->setChecked(false);
  }
}

void MainWindow::OnToggleStatusWindow() {
  if (!m_listHidden) {
    // The rows go on being updated while the list is hidden; only their painting is saved. Where the list
    // was scrolled to and which row was selected are kept for its return: hiding it moves the focus away and
    // a view that gets it back would select its current row.
    m_shownGeometry = geometry();
    m_listPlace = ListPlace{m_list->verticalScrollBar()->value(), m_list->horizontalScrollBar()->value(),
                            SelectedSession()};
    centralWidget()->hide();
    m_listHidden = true;
    // Nothing but menu, toolbar and status bar: the window as low as its layout lets it be.
    layout()->activate();
    resize(width(), minimumSizeHint().height());
  } else {
    centralWidget()->show();
    m_listHidden = false;
    setGeometry(m_shownGeometry);
    RestoreListPlace();
    // The scroll range follows the new geometry only when the layout has run.
    QTimer::singleShot(0, this, &MainWindow::RestoreListPlace);
  }
}

int MainWindow::SelectedSession() const {
  const QModelIndexList rows = m_list->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : m_model->SessionIdAt(m_sorted->mapToSource(rows.first()).row());
}

void MainWindow::RestoreListPlace() {
  if (m_listHidden) return;
  QItemSelectionModel* selection = m_list->selectionModel();
  int row = m_listPlace.selectedSession < 0 ? -1 : m_model->RowOf(m_listPlace.selectedSession);
  if (row >= 0) {
    QModelIndex index = m_sorted->mapFromSource(m_model->index(row, 0));
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    selection->clearSelection();
  }
  m_list->verticalScrollBar()->setValue(m_listPlace.vertical);
  m_list->horizontalScrollBar()->setValue(m_listPlace.horizontal);
}

QString MainWindow::ActivityText(const Activity& activity) {
  QString text = QString("Running: %1").arg(activity.running);
  if (activity.running > 0) text += QString::fromStdString(" \u00b7 " + FormatRate(activity.bytesPerSecond));
  return text;
}

void MainWindow::Measure() {
  // The workers still there are asked before the notices are taken: a worker missing from that list posted
  // all it had to say before it went, so its transfer's end has arrived by the time it is judged gone. A
  // session newer than the list is judged next time.
  const bool measuring = m_model->Measuring();
  std::vector<int> running;
  int newest = 0;
  if (measuring) {
    newest = m_app.Registry().LastSessionId();
    running = m_app.Registry().RunningIds();
    m_frontend.Drain();
  }
  auto stillRunning = [&](int id) {
    return id > newest || std::binary_search(running.begin(), running.end(), id);
  };
  Activity activity =
      m_model->Measure(RateMeter::Clock::now(), measuring ? std::function<bool(int)>(stillRunning) : nullptr);
  QString text = ActivityText(activity);
  if (m_activityPane->text() != text) m_activityPane->setText(text);
}

void MainWindow::ApplyKeepFinishedRows() {
  m_app.Registry().SetKeepFinishedRows(cfg::Read(m_app.Config(), cfg::kKeepFinishedRows));
}

void MainWindow::OnClearCompleted() {
  m_app.Registry().ClearCompletedSessions();
}

void MainWindow::OnShowWindow() {
  // While the program lives in the tray its icon stays there, the window shown or not.
  if (!SystemTraySet()) m_trayIcon.RemoveFromTray();
  // Out of the tray as it went in: maximised when it was.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void MainWindow::OnTrayDoubleClick() {
  raise();
  OnAbout();
}

void MainWindow::ShowPrompt(const QString& prompt) {
  m_promptPane->setText(prompt.isEmpty() ? kReadyPrompt : prompt);
}

bool MainWindow::event(QEvent* event) {
  // Prompts go to the third pane; the first two keep the service states.
  if (event->type() == QEvent::StatusTip) {
    ShowPrompt(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !SystemTraySet() || !m_trayIcon.Available()) return;
  // The icon stays in the tray while the window is restored: it is the way back after the next minimise.
  if (isMinimized()) {
    m_trayIcon.AddToTray();
    QTimer::singleShot(0, this, &QWidget::hide);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  OnOK();
}

void MainWindow::OnOK() {
  int running = m_model->Measure(RateMeter::Clock::now()).running;
  if (m_modals.Question(this, QuitQuestion(running))) Quit();
}

void MainWindow::Quit() {
  WritePlacement();
  hide();
  WriteColumnWidths();
  // The log is closed by the core's shut-down, which the caller runs when the loop has ended.
  QCoreApplication::quit();
}

double FontWidthScale(const QFontMetrics& metrics) {
  static const QString kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  return metrics.horizontalAdvance(kLetters) / double(kLetters.size()) / kDefaultsCharWidth;
}

void MainWindow::ReadColumnWidths() {
  // A stored width is in the pixels of the font it was dragged in; a default is scaled to this one.
  const double scale = FontWidthScale(m_list->fontMetrics());
  // The last column fills the list: a width stored for it (that of a maximised window, say) would hold it
  // wider than the list and call for a horizontal scroll bar. No column is wider than the screen.
  const int stretched = m_list->horizontalHeader()->logicalIndex(kListColumns - 1);
  const int widest = screen()->availableGeometry().width();
  for (int column = 0; column < kListColumns; ++column) {
    if (column == stretched) continue;
    const cfg::IntSetting& setting = *kColumnWidths[column];
    int stored = m_app.Config().GetProfileInt(setting.section, setting.key, -1);
    m_list->setColumnWidth(column, stored >= 0 ? std::min(stored, widest) : qRound(setting.read * scale));
  }
  // Type holds one of a few short names; it shows the longest whole in any font.
  const int margin = m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
  const int typeWidth = m_list->fontMetrics().horizontalAdvance("Tftp Client") + 2 * margin + 4;
  m_list->setColumnWidth(kListType, std::max(m_list->columnWidth(kListType), typeWidth));
}

void MainWindow::WriteColumnWidths() {
  for (int column = 0; column < kListColumns; ++column)
    cfg::Write(m_app.Config(), *kColumnWidths[column], m_list->columnWidth(column));
}

bool MainWindow::ReadPlacement() {
  // Without a usable stored place (a first start, a screen gone) the window takes a share of its screen.
  setGeometry(FirstStartGeometry(screen()->availableGeometry()));
  QStringList parts = QString::fromStdString(cfg::Read(m_app.Config(), cfg::kWindowPlacement)).split(',');
  if (parts.size() != 5) return false;
  int values[5];
  for (int i = 0; i < 5; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return false;
  }
  QRect placed(values[0], values[1], values[2], values[3]);
  if (placed.width() < 100 || placed.height() < 50) return false;
  // A screen that has gone since (a second monitor unplugged) leaves the window where the desktop puts it.
  bool onScreen = false;
  for (QScreen* screen : QGuiApplication::screens())
    onScreen = onScreen || screen->availableGeometry().intersects(placed);
  if (!onScreen) return false;
  setGeometry(placed);
  return values[4] != 0;
}

void MainWindow::WritePlacement() {
  // The size and place the window has when it is neither maximised nor without its list.
  QRect placed = m_listHidden ? m_shownGeometry : normalGeometry();
  if (!placed.isValid()) placed = geometry();
  cfg::Write(m_app.Config(), cfg::kWindowPlacement,
             QString("%1,%2,%3,%4,%5")
                 .arg(placed.x())
                 .arg(placed.y())
                 .arg(placed.width())
                 .arg(placed.height())
                 .arg(isMaximized() ? 1 : 0)
                 .toStdString());
}

}  // namespace hx
