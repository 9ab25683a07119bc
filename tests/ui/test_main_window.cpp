// The main window: menus, toolbar, status bar, service switches, quitting, and the messages of workers.
#include <QAction>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "app/config_keys.h"
#include "tls/server_tls.h"
#include "ui/config_pages.h"
#include "ui/config_sheet.h"
#include "ui/ftp_file_dialog.h"
#include "ui/ftp_tls_box.h"
#include "ui/notice_pane.h"
#include "ui/session_model.h"
#include "ui/session_view.h"
#include "ui/tftp_file_dialog.h"
#include "ui/user_info_dialog.h"
#include "ui/user_list_dialog.h"
#include "ui/window_placement.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

struct Item {
  QString text;
  QString prompt;
};

QStringList MenuTitles(QMainWindow& window) {
  QStringList titles;
  for (QAction* a : window.menuBar()->actions()) titles << a->text();
  return titles;
}

std::vector<Item> MenuItems(QMainWindow& window, const QString& title) {
  std::vector<Item> items;
  for (QAction* a : window.menuBar()->actions()) {
    if (a->text() != title) continue;
    for (QAction* item : a->menu()->actions())
      if (!item->isSeparator()) items.push_back({item->text(), item->statusTip()});
  }
  return items;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void menusHaveTheirTextsPromptsAndOrder() {
    WindowFixture f;
    QVERIFY(f.started);
    QCOMPARE(MenuTitles(*f.window), (QStringList{"&File", "&View", "&Server Control", "C&lients", "&Help"}));
    const std::vector<std::pair<QString, std::vector<Item>>> expected = {
        {"&File",
         {{"&Config", "Configure this application"},
          {"Enable &Logging", "Enable Logging of file transfers"},
          {"Enable &Debugging", "Enable Debugging  (Warning..Very slow!)"},
          {"E&xit", "Exit this application"}}},
        {"&View",
         {{"&Log Output", "View log output in a window"},
          {"&Debug Output", "View Debug output in a window"},
          {"Toggle &status window", "Toggles the status window. Can speed up transfers."},
          {"Clear &completed sessions from list",
           "Clears the display list of any sessions that have already completed"}}},
        {"&Server Control",
         {{"Toggle &Tftp Server", "Toggle TFTP Server ON or OFF"},
          {"Toggle Ftp S&erver", "Toggle FTP Server ON or OFF"}}},
        {"C&lients",
         {{"Ftp Client (&Get File)", "Get a file from an FTP server"},
          {"Ftp Client (&Put File)", "Send a file to an FTP server"},
          {"Tftp Client (G&et File)", "Get a file from a TFTP server"},
          {"Tftp Client (P&ut File)", "Send a file to a TFTP Server"}}},
        {"&Help",
         {{"&Help Contents", "View Help Index"},
          {"&Vantrel on the Web", "Go to the Vantrel Web Site"},
          {"&About", "About this application"}}},
    };
    for (const auto& [title, items] : expected) {
      auto actual = MenuItems(*f.window, title);
      QCOMPARE(actual.size(), items.size());
      for (size_t i = 0; i < items.size(); ++i) {
        QCOMPARE(actual[i].text, items[i].text);
        QCOMPARE(actual[i].prompt, items[i].prompt);
      }
    }
    // Only the two switches of the File menu carry check marks.
    for (QAction* menu : f.window->menuBar()->actions())
      for (QAction* item : menu->menu()->actions())
        QCOMPARE(item->isCheckable(),
                 item->text() == "Enable &Logging" || item->text() == "Enable &Debugging");
  }

  // Every menu item, button and labelled field of the window and its dialogs has an underlined letter of its
  // own within its menu, dialog or page, and every field a label that leads to it.
  void everyControlHasItsOwnMnemonic() {
    WindowFixture f;
    std::vector<QWidget*> pages = {f.window->TrayMenu()};
    for (QAction* menu : f.window->menuBar()->actions()) pages.push_back(menu->menu());
    ConfigSheet sheet(SheetContext{f.Config(), f.modals, *f.frontend, f.Dir()});
    pages.insert(pages.end(), {sheet.General(), sheet.Tftp(), sheet.Ftp()});
    TftpFileDialog tftp(false, f.Config(), f.modals);
    FtpFileDialog ftp(true, f.Config(), f.modals);
    UserListDialog users(UserDialogContext{f.Config(), f.modals, *f.frontend, f.Dir()});
    UserInfoDialog user("ann||||" + f.Dir() + "||1||0||1||0||0||0||0||1", f.modals);
    pages.insert(pages.end(), {&tftp, &ftp, &users, &user});
    for (QWidget* page : pages) QCOMPARE(MnemonicFaults(page), std::vector<std::string>{});
  }

  // The keys of the common commands, shown in their menus; no two alike, and none takes a standard key
  // (Ctrl+F finds in the list, Ctrl+C copies rows) unless it is the standard key of that very command.
  void shortcutsOfTheCommonCommands() {
    WindowFixture f;
    const std::pair<Command, QKeySequence> expected[] = {
        {Command::ToggleTftp, QKeySequence("Ctrl+1")},    {Command::ToggleFtp, QKeySequence("Ctrl+2")},
        {Command::FtpClientGet, QKeySequence("Ctrl+3")},  {Command::FtpClientPut, QKeySequence("Ctrl+4")},
        {Command::TftpClientGet, QKeySequence("Ctrl+5")}, {Command::TftpClientPut, QKeySequence("Ctrl+6")},
        {Command::Config, QKeySequence("Ctrl+,")},        {Command::LogOutput, QKeySequence("Ctrl+L")},
        {Command::DebugOutput, QKeySequence("Ctrl+D")},   {Command::Exit, QKeySequence("Ctrl+Q")},
        {Command::HelpContents, QKeySequence("F1")},
    };
    const std::map<Command, QKeySequence::StandardKey> standardMeaning = {
        {Command::Exit, QKeySequence::Quit}, {Command::HelpContents, QKeySequence::HelpContents}};
    QSet<QString> seen;
    for (const auto& [command, key] : expected) {
      QAction* action = f.window->Action(command);
      QCOMPARE(action->shortcut(), key);
      QVERIFY(!seen.contains(key.toString()));
      seen.insert(key.toString());
      for (int standard = QKeySequence::HelpContents; standard <= QKeySequence::Cancel; ++standard) {
        auto meaning = standardMeaning.find(command);
        if (meaning != standardMeaning.end() && meaning->second == standard) continue;
        QVERIFY2(!QKeySequence::keyBindings(QKeySequence::StandardKey(standard)).contains(key),
                 qPrintable(key.toString() + " is a standard key"));
      }
    }
    // A key runs its command.
    f.window->show();
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    f.modals.answers = {true};
    QTest::keyClick(f.window.get(), Qt::Key_1, Qt::ControlModifier);
    QVERIFY(!f.app->TftpServiceOn());
  }

  void toolbarHasEightSlotsWithStateButtons() {
    WindowFixture f;
    auto* bar = f.window->findChild<QToolBar*>("toolbar");
    QVERIFY(bar);
    QList<QAction*> items = bar->actions();
    QCOMPARE(items.size(), 8);
    for (int i : {1, 3, 5, 7}) QVERIFY(items[i]->isSeparator());
    QCOMPARE(items[0], f.window->TftpButton());
    QCOMPARE(items[2], f.window->FtpButton());
    QCOMPARE(items[4]->toolTip(), QString("Configure this application"));
    QCOMPARE(items[6]->toolTip(), QString("Exit this application"));
    QCOMPARE(bar->iconSize(), QSize(32, 32));
    QVERIFY(items[0]->isCheckable() && items[0]->isChecked());
    QCOMPARE(items[0]->toolTip(), QString("TFTP Server is ON. Select this button to disable it"));
    QCOMPARE(items[2]->toolTip(), QString("FTP Server is ON. Select this button to disable it"));
    QVERIFY(!items[0]->icon().isNull() && !items[4]->icon().pixmap(64, 64).isNull());
  }

  void statusBarShowsStatesAndPrompts() {
    WindowFixture f;
    QCOMPARE(f.window->TftpPaneText(), QString("   TFTP: On   "));
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: On   "));
    QCOMPARE(f.window->PromptText(), QString("Ready"));
    // A menu item under the cursor shows its prompt; nothing under the cursor shows "Ready".
    f.window->Action(Command::ClearCompleted)->showStatusText(f.window->menuBar());
    QCOMPARE(f.window->PromptText(),
             QString("Clears the display list of any sessions that have already completed"));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(f.window->menuBar(), &none);
    QCOMPARE(f.window->PromptText(), QString("Ready"));
    // The state panes are not taken over by prompts.
    QCOMPARE(f.window->TftpPaneText(), QString("   TFTP: On   "));
  }

  void switchingOffAsksAndNoKeepsTheService() {
    WindowFixture f;
    f.modals.answers = {false};
    f.window->TftpButton()->trigger();  // pressed button released: the switch-off
    QCOMPARE(f.modals.questions.size(), size_t{1});
    QCOMPARE(f.modals.questions[0],
             std::string("Warning! This will disable the TFTP Server\nDo you wish to proceed?"));
    QVERIFY(f.modals.lastIcon == Modals::Icon::Exclamation);
    QVERIFY(f.app->TftpServiceOn());
    QVERIFY(f.window->TftpButton()->isChecked());
    QCOMPARE(f.window->TftpPaneText(), QString("   TFTP: On   "));
    QCOMPARE(f.Config().GetProfileInt(cfg::kTftp, cfg::kTftpServer.key, -1), 1);
  }

  void switchingOffAndOnFollowsTheSetting() {
    WindowFixture f;
    f.modals.answers = {true};
    f.window->Action(Command::ToggleFtp)->trigger();
    QCOMPARE(f.modals.questions.back(),
             std::string("Warning! This will disable the FTP Server\nDo you wish to proceed?"));
    QVERIFY(!f.app->FtpServiceOn());
    QVERIFY(!f.window->FtpButton()->isChecked());
    QCOMPARE(f.window->FtpButton()->toolTip(), QString("FTP Server is OFF. Select this button to enable it"));
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: Off   "));
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFtpServer.key, -1), 0);
    // Switching on asks nothing.
    size_t asked = f.modals.questions.size();
    f.window->FtpButton()->trigger();
    QCOMPARE(f.modals.questions.size(), asked);
    QVERIFY(f.app->FtpServiceOn());
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: On   "));
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFtpServer.key, -1), 1);
    // The menu toggle follows the stored setting.
    f.window->Action(Command::ToggleTftp)->trigger();
    QVERIFY(!f.app->TftpServiceOn());
    f.window->Action(Command::ToggleTftp)->trigger();
    QVERIFY(f.app->TftpServiceOn());
  }

  void listenerFailureIsShownAndLeavesTheServiceOff() {
    // The listener reports from the network thread while the window waits for the switch: the box must be
    // served, or both would wait for ever.
    WindowFixture f;
    f.modals.answers = {true};
    f.window->TftpOff();
    f.switches->tftpOpens = false;
    f.window->TftpOn();
    QTRY_COMPARE(f.window->Notices()->text(), QString("TFTP listener failed"));
    QVERIFY(f.modals.Messages().empty());
    QVERIFY(!f.app->TftpServiceOn());
    QVERIFY(!f.window->TftpButton()->isChecked());
    QCOMPARE(f.window->TftpPaneText(), QString("   TFTP: Off   "));
    QCOMPARE(f.Config().GetProfileInt(cfg::kTftp, cfg::kTftpServer.key, -1), 0);
  }

  void tlsSettingsChangedOnTheSheetReloadTlsAndRestartFtp() {
    WindowFixture f("[General]\r\nLogging=1\r\n");
    auto serverTls = std::make_shared<tls::ServerTls>();
    f.app->Context().ftpTls = serverTls;
    int made = f.switches->ftpMade;
    // OK with the settings as they were: nothing to reload. Then a new implicit port.
    for (const char* port : {"0", "2990"}) {
      OnNextModal([port](QWidget* modal) {
        auto* sheet = static_cast<ConfigSheet*>(modal);
        sheet->Tabs()->setCurrentIndex(2);
        sheet->Ftp()->tls->implicitPort->setText(port);
        sheet->accept();
      });
      f.window->Action(Command::Config)->trigger();
    }
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFImplicitPort.key, -1), 2990);
    QCOMPARE(f.switches->ftpMade.load(), made + 1);
    QVERIFY(f.app->FtpServiceOn());
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: On   "));
    // TLS was loaded again: the certificate missing from the program directory has been made and logged.
    QVERIFY(serverTls->Fingerprint().starts_with("SHA256:"));
    QVERIFY(std::filesystem::exists(f.Dir() + "Harbinex.crt"));
    QVERIFY(ReadText(f.Dir() + "Harbinex.log").find(serverTls->Fingerprint()) != std::string::npos);
  }

  void startWithServicesOffAsksNothing() {
    WindowFixture f("[TFTP]\r\nTFTPServer=0\r\n");
    QVERIFY(f.started);
    QVERIFY(f.modals.questions.empty());
    QCOMPARE(f.window->TftpPaneText(), QString("   TFTP: Off   "));
    QVERIFY(!f.window->TftpButton()->isChecked());
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: On   "));
  }

  void startWithFailingListenerShowsItOff() {
    WindowFixture::Options o;
    o.ftpOpens = false;
    WindowFixture f(o);
    QCOMPARE(f.window->Notices()->Lines(), std::vector<std::string>{"FTP listener failed"});
    QVERIFY(f.modals.Messages().empty());
    QCOMPARE(f.window->FtpPaneText(), QString("   FTP: Off   "));
    QCOMPARE(f.Config().GetProfileInt(cfg::kFtp, cfg::kFtpServer.key, -1), 0);
  }

  void columnWidthsComeFromTheSettingsAndGoBackOnQuit() {
    {
      // Defaults are scaled to the font, so that the list's texts fit as they did in the font they suit.
      WindowFixture f;
      QFontMetrics metrics = f.window->SessionList()->fontMetrics();
      const double scale = FontWidthScale(metrics);
      QVERIFY(scale > 0);
      const int defaults[] = {65, 50, 100, 100, 85, 120, 80};
      for (int c = 0; c < 7; ++c)
        if (c != kListType) QCOMPARE(f.window->SessionList()->columnWidth(c), qRound(defaults[c] * scale));
      // Type is never narrower than its longest text.
      QVERIFY(f.window->SessionList()->columnWidth(kListType) >=
              std::max(qRound(defaults[kListType] * scale), metrics.horizontalAdvance("Tftp Client") + 8));
    }
    WindowFixture f("[ColumnWidth]\r\nTime=120\r\nCommand=200\r\n");
    QCOMPARE(f.window->SessionList()->columnWidth(0), 120);
    QCOMPARE(f.window->SessionList()->columnWidth(kListCommand), 200);
    f.window->SessionList()->setColumnWidth(2, 144);
    f.window->show();
    f.modals.answers = {false};
    f.window->OnOK();
    QCOMPARE(f.modals.questions.back(),
             std::string("This will close this application.\nDo you really want to quit?"));
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.Config().GetProfileInt(cfg::kColumnWidth, "Peer", -1), -1);
    f.modals.answers = {true};
    f.window->Action(Command::Exit)->trigger();
    QVERIFY(!f.window->isVisible());
    QCOMPARE(f.Config().GetProfileInt(cfg::kColumnWidth, "Peer", -1), 144);
    QCOMPARE(f.Config().GetProfileInt(cfg::kColumnWidth, "Time", -1), 120);
    QCOMPARE(f.Config().GetProfileInt(cfg::kColumnWidth, "Bytes", -1),
             qRound(85 * FontWidthScale(f.window->SessionList()->fontMetrics())));
  }

  void quitQuestionCountsTheRunningTransfers() {
    const std::pair<int, std::string> texts[] = {
        {0, "This will close this application.\nDo you really want to quit?"},
        {1, "1 transfer is running. This will close this application.\nDo you really want to quit?"},
        {3, "3 transfers are running. This will close this application.\nDo you really want to quit?"},
    };
    for (const auto& [running, text] : texts) QCOMPARE(QuitQuestion(running), text);

    // Three transfers move, one has ended, and an FTP connection only waits for its next command.
    WindowFixture f;
    std::vector<SessionNotice> rows;
    auto cell = [&](int id, int column, const char* text) {
      rows.push_back({SessionNotice::Kind::CellChanged, id, column, text});
    };
    for (int id = 1; id <= 5; ++id) rows.push_back({SessionNotice::Kind::RowInserted, id, 0, {}});
    for (int id = 1; id <= 4; ++id) cell(id, kColType, "Tftp Srv");
    for (int id = 1; id <= 4; ++id) cell(id, kColBytes, "1024");
    cell(4, kColStatus, "TFTP: Successful. Total bytes transferred: 1024");
    cell(4, kColOutcome, kOutcomeSucceeded);
    cell(5, kColType, "Ftp Srv");
    cell(5, kColStatus, "230 User logged in, proceed.");
    f.window->Sessions()->Apply(rows, {});
    f.modals.answers = {false};
    f.window->OnOK();
    QCOMPARE(QString::fromStdString(f.modals.questions.back()), QString::fromStdString(texts[2].second));
  }

  void firstStartTakesAShareOfTheScreen() {
    struct Case {
      QRect available;
      QRect placed;
    };
    const Case cases[] = {
        {{0, 0, 1280, 800}, {256, 160, 768, 480}},
        {{0, 0, 1920, 1080}, {384, 216, 1152, 648}},
        {{0, 0, 960, 540}, {192, 108, 576, 324}},        // 1920x1080 at scale 2
        {{1920, 28, 1280, 772}, {2176, 183, 768, 463}},  // a second screen below a panel
    };
    for (const Case& c : cases) QCOMPARE(FirstStartGeometry(c.available), c.placed);
    WindowFixture f;
    QCOMPARE(f.window->geometry(), FirstStartGeometry(f.window->screen()->availableGeometry()));
    QVERIFY(!f.window->isMaximized());
  }

  void aStatusWidthStoredWhileMaximisedNeedsNoScrollBar() {
    WindowFixture f("[General]\r\nWindowPlacement=0,0,1200,400,0\r\n[ColumnWidth]\r\nStatus=3000\r\n");
    SessionView* list = f.window->SessionList();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QTRY_COMPARE(list->horizontalHeader()->length(), list->viewport()->width());
    QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
  }

  void closeBoxAsksToo() {
    WindowFixture f;
    f.window->show();
    f.modals.answers = {false};
    QVERIFY(!f.window->close());
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.modals.questions.size(), size_t{1});
  }

  void workerMessagesNeverWaitAndRepeatsFold() {
    WindowFixture f;
    const std::string text = "Could not create TFTP session! Insufficient memory?";
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      for (int i = 0; i < 66; ++i) f.frontend->MessageBox(text);
      returned = true;
    });
    // The GUI thread serves nothing meanwhile: a worker that waited for it would never return.
    for (int i = 0; i < 1000 && !returned.load(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool returnedAlone = returned.load();
    QTRY_VERIFY(returned.load());
    worker.join();
    QVERIFY(returnedAlone);
    // One line, with its count once the second of the repeats is over; a different message is a line of its
    // own. The one box shows the newest line, and nothing waited for the operator.
    QTRY_COMPARE(f.window->Notices()->text(), QString::fromStdString(text + " (x 66)"));
    std::thread([&] { f.frontend->MessageBox("Error setting up FTP connection"); }).join();
    QTRY_COMPARE(f.window->Notices()->Lines(),
                 (std::vector<std::string>{text + " (x 66)", "Error setting up FTP connection"}));
    QCOMPARE(f.window->Notices()->toolTip(),
             QString::fromStdString(text + " (x 66)\nError setting up FTP connection"));
    QVERIFY(f.modals.Messages().empty());
    QVERIFY(f.window->Notices()->Box());
    QCOMPARE(f.window->Notices()->Box()->text(), QString("Error setting up FTP connection"));
    QCOMPARE(OpenMessageBoxes(), 1);
    QVERIFY(!QApplication::activeModalWidget());
  }

  void windowPlacementIsRestoredAndStored() {
    WindowFixture f("[General]\r\nWindowPlacement=30,40,610,330,0\r\n");
    QVERIFY(f.started);
    QCOMPARE(f.window->geometry().size(), QSize(610, 330));
    QVERIFY(!f.window->isMaximized());
    f.window->resize(640, 360);
    f.window->Quit();
    QStringList stored =
        QString::fromStdString(f.Config().GetProfileString("General", "WindowPlacement", "")).split(',');
    QCOMPARE(stored.size(), 5);
    QCOMPARE(stored.mid(2), (QStringList{"640", "360", "0"}));
  }

  void toggleStatusWindowTwiceKeepsScrollAndSelection() {
    WindowFixture f;
    f.window->show();
    std::vector<SessionNotice> rows;
    for (int id = 1; id <= 200; ++id) rows.push_back({SessionNotice::Kind::RowInserted, id, 0, {}});
    f.window->Sessions()->Apply(rows, {});
    SessionView* list = f.window->SessionList();
    list->selectRow(40);
    list->verticalScrollBar()->setValue(30);
    for (int i = 0; i < 2; ++i) f.window->Action(Command::ToggleStatusWindow)->trigger();
    QTRY_COMPARE(list->verticalScrollBar()->value(), 30);
    QCoreApplication::processEvents();
    QCOMPARE(list->verticalScrollBar()->value(), 30);
    QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(list->selectionModel()->selectedRows().first().row(), 40);
  }

  void toggleStatusWindowHidesOnlyThePainting() {
    WindowFixture f;
    f.window->show();
    int before = f.window->height();
    f.window->Action(Command::ToggleStatusWindow)->trigger();
    QVERIFY(!f.window->SessionList()->isVisible());
    // No band is left between toolbar and status bar.
    QTRY_COMPARE(f.window->statusBar()->geometry().top(),
                 f.window->findChild<QToolBar*>()->geometry().bottom() + 1);
    f.app->Registry().SetSessionText(0, kColCommand, "while hidden");
    QTRY_COMPARE(f.window->Sessions()->Cell(0, kColCommand), QString("while hidden"));
    f.window->Action(Command::ToggleStatusWindow)->trigger();
    QVERIFY(f.window->SessionList()->isVisible());
    QCOMPARE(f.window->height(), before);
  }

  void boxesShowTheirLines() {
    const std::pair<std::string, std::string> cases[] = {
        {"one\rtwo", "one\ntwo"},
        {"one\r\ntwo", "one\ntwo"},
        {"a\r\rb\r", "a\n\nb\n"},
        {"Warning!\n \t\t\tDebugging\n \t\tDo you", "Warning!\nDebugging\nDo you"},
        {" 1) first \r 2) second", "1) first \n2) second"},
    };
    for (const auto& [text, shown] : cases) QCOMPARE(DisplayText(text), shown);
  }

  void aboutHelpAndWeb() {
    WindowFixture f;
    QString caption, text;
    OnNextModal([&](QWidget* modal) {
      caption = modal->windowTitle();
      if (auto* label = modal->findChild<QLabel*>("version")) text = label->text();
      static_cast<QDialog*>(modal)->accept();
    });
    f.window->Action(Command::About)->trigger();
    QCOMPARE(caption, QString("About Harbinex"));
    QCOMPARE(text, QString("Harbinex Version 1.1.007"));

    f.window->Action(Command::HelpContents)->trigger();
    f.window->Action(Command::Web)->trigger();
    QCOMPARE(f.openedUrls.size(), size_t{2});
    QVERIFY(QString::fromStdString(f.openedUrls[0]).startsWith("file://"));
    QVERIFY(QString::fromStdString(f.openedUrls[0]).endsWith("/manual.html"));
    QCOMPARE(f.openedUrls[1], std::string("https://example.invalid/harbinex"));
    QVERIFY(f.modals.Messages().empty());
  }
};

}  // namespace hx::test

int RunMainWindowTests(int argc, char** argv) {
  hx::test::MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
