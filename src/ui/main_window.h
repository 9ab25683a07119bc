#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ui/client_launcher.h"
#include "ui/commands.h"
#include "ui/tray_icon.h"

class QAction;
class QFontMetrics;
class QMenu;
class QToolBar;

namespace hx {

class Modals;
class NoticePane;
class OutputViewer;
class ServerApp;
class SessionActions;
class SessionFilter;
class SessionFilterBox;
class SessionModel;
class SessionView;
class WindowFrontend;
struct Activity;

// The scale of the session list's default column widths for a font: its average letter width against the
// width the defaults were chosen for.
double FontWidthScale(const QFontMetrics& metrics);

struct WindowOptions {
  // Whether the desktop has a system tray; nullopt asks the desktop.
  std::optional<bool> trayAvailable;
  // Show the splash window at start (when the program does not start in the tray).
  bool splash = true;
  // What "&Help Contents" and the web command open; see help_locations.h.
  std::string manualPath;
  std::string homeUrl;
  // Opens an address with the desktop's opener; false when nothing could open it.
  std::function<bool(const std::string& url)> openUrl;
};

// The main window "Harbinex": menus, toolbar and status bar around the session list. It switches the
// services, starts the client transfers, opens the configuration sheet, the viewers and the About box, and
// ends the program after asking. Messages that sessions and listeners report go to the notice pane of the
// status bar. Everything here runs on the GUI thread; calls into the core that may wait for another thread
// run beside the event loop (RunBesideGui), so that the window goes on being served meanwhile.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(ServerApp& app, WindowFrontend& frontend, Modals& modals, ClientLauncher launcher,
             WindowOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Start-up: the core's start (version row, log, services, settings), the states shown, then the window or
  // the tray icon, and the splash. False when the core could not start; the caller then ends the program.
  bool Start();

  // The service switches of the toolbar buttons and the menu.
  void TftpOn();
  void TftpOff();
  void FtpOn();
  void FtpOff();
  void OnToggleTftp();
  void OnToggleFtp();

  // The quit step: asks, then hides the window, stores the column widths and ends the event loop.
  void OnOK();
  // The same without the question, for a program ended by a signal.
  void Quit();

  QAction* Action(Command command) const;
  QAction* TftpButton() const { return m_tftpButton; }
  QAction* FtpButton() const { return m_ftpButton; }
  QMenu* TrayMenu() const { return m_trayMenu; }
  QString PromptText() const { return m_promptPane->text(); }
  QString TftpPaneText() const { return m_tftpPane->text(); }
  QString FtpPaneText() const { return m_ftpPane->text(); }
  SessionView* SessionList() const { return m_list; }
  SessionModel* Sessions() const { return m_model; }
  SessionActions* RowActions() const { return m_rowActions; }
  SessionFilterBox* FilterBox() const { return m_filterBox; }
  // Reads General/KeepFinishedRows and hands it to the registry: at start, and after the settings changed.
  void ApplyKeepFinishedRows();
  QString ActivityPaneText() const { return m_activityPane->text(); }
  NoticePane* Notices() const { return m_notices; }
  // Brings Progress and the activity pane up to date (a timer does it a few times a second).
  void Measure();
  TrayIcon& Tray() { return m_trayIcon; }
  bool StatusWindowShown() const { return !m_listHidden; }

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void BuildList();
  void BuildTray();
  QAction* MakeAction(Command command, void (MainWindow::*slot)());

  void ShowTftpState(bool on);
  void ShowFtpState(bool on);
  void ShowPrompt(const QString& prompt);

  void OnEnableLogging();
  void OnEnableDebugging();
  void OnLogOutput();
  void OnDebugOutput();
  void OnToggleStatusWindow();
  void OnClearCompleted();
  void OnConfig();
  // After the sheet changed what the FTP service takes at its start: TLS loaded again and the service, when
  // on, restarted.
  void ApplyFtpStartSettings();
  // After the sheet changed the TFTP port: the service, when on, restarted on it.
  void ApplyTftpPort();
  void OnAbout();
  void OnHelpContents();
  void OnWeb();
  void OnShowWindow();
  void OnFtpClientGet();
  void OnFtpClientPut();
  void OnTftpClientGet();
  void OnTftpClientPut();
  void OnTrayDoubleClick();

  void ReadColumnWidths();
  void WriteColumnWidths();
  // Places the window as it was when the program last ended, or as a first start places it; true when it
  // was maximised.
  bool ReadPlacement();
  void WritePlacement();
  int SelectedSession() const;
  void RestoreListPlace();
  static QString ActivityText(const Activity& activity);
  bool SystemTraySet() const;

  ServerApp& m_app;
  WindowFrontend& m_frontend;
  Modals& m_modals;
  ClientLauncher m_launcher;
  WindowOptions m_options;

  std::map<Command, QAction*> m_actions;
  QAction* m_tftpButton = nullptr;
  QAction* m_ftpButton = nullptr;
  QToolBar* m_toolBar = nullptr;
  QLabel* m_tftpPane = nullptr;
  QLabel* m_ftpPane = nullptr;
  QLabel* m_promptPane = nullptr;
  QLabel* m_activityPane = nullptr;
  NoticePane* m_notices = nullptr;
  SessionModel* m_model = nullptr;
  SessionFilter* m_sorted = nullptr;
  SessionFilterBox* m_filterBox = nullptr;
  SessionView* m_list = nullptr;
  SessionActions* m_rowActions = nullptr;  // the list's context menu and keys
  QMenu* m_trayMenu = nullptr;
  // The viewers while they are open.
  QPointer<OutputViewer> m_logViewer;
  QPointer<OutputViewer> m_debugViewer;
  TrayIcon m_trayIcon;

  bool m_bInitializing = true;
  bool m_listHidden = false;
  QRect m_shownGeometry;
  // Where the list stood when it was hidden.
  struct ListPlace {
    int vertical = 0;
    int horizontal = 0;
    int selectedSession = -1;
  } m_listPlace;
  QTimer m_measureTimer;
};

}  // namespace hx
