// Logging and debugging switches, the "Debugging Type" dialog and the output viewer.
#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>

#include "app/config_keys.h"
#include "app/text_lines.h"
#include "ui/debug_type_dialog.h"
#include "ui/output_viewer.h"
#include "ui/viewer_lines.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {

class LogViewerTest : public QObject {
  Q_OBJECT

 private slots:
  void loggingSwitch() {
    WindowFixture f;
    QAction* logging = f.window->Action(Command::EnableLogging);
    QVERIFY(!logging->isChecked());  // a first start reads Logging as off
    logging->trigger();
    QVERIFY(logging->isChecked());
    QVERIFY(f.app->Log().Logging());
    QVERIFY(std::filesystem::exists(f.Dir() + "Harbinex.log"));
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kLogging.key, -1), 1);
    logging->trigger();
    QVERIFY(!logging->isChecked());
    QVERIFY(!f.app->Log().Logging());
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kLogging.key, -1), 0);
  }

  void loggingThatCannotOpen() {
    WindowFixture f;
    std::filesystem::create_directory(f.Dir() + "Harbinex.log");
    f.window->Action(Command::EnableLogging)->trigger();
    QCOMPARE(f.modals.Messages(), std::vector<std::string>{"Error opening log file"});
    QVERIFY(!f.window->Action(Command::EnableLogging)->isChecked());
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kLogging.key, -1), 0);
  }

  void startWithLoggingOnShowsTheCheckMark() {
    WindowFixture f("[General]\r\nLogging=1\r\nDebugging=3\r\n");
    QVERIFY(f.window->Action(Command::EnableLogging)->isChecked());
    QVERIFY(!f.window->Action(Command::EnableDebugging)->isChecked());
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kDebugging.key, -1), 0);
  }

  void debuggingWarningAndType() {
    WindowFixture f;
    QAction* debugging = f.window->Action(Command::EnableDebugging);
    f.modals.answers = {false};
    debugging->trigger();
    QCOMPARE(f.modals.questions.back(),
             std::string(
                 "Warning!\n \t\t\t\t\t\t\t\t\t\tDebugging causes file transfers to be very slow.\n "
                 "\t\t\t\t\t\t\t\t\t\tIn some cases, it may cause them to fail.\n \t\t\t\t\t\t\t\t\t\tDo you "
                 "still wish to enable debugging?"));
    QVERIFY(!debugging->isChecked());
    QCOMPARE(f.app->Log().DebugMask(), 0);

    f.modals.answers = {true};
    QString caption;
    OnNextModal([&](QWidget* modal) {
      caption = modal->windowTitle();
      modal->findChild<QPushButton*>("both")->click();
    });
    debugging->trigger();
    QCOMPARE(caption, QString("Debugging Type"));
    QVERIFY(debugging->isChecked());
    QCOMPARE(f.app->Log().DebugMask(), 3);
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kDebugging.key, -1), 3);
    debugging->trigger();
    QVERIFY(!debugging->isChecked());
    QCOMPARE(f.app->Log().DebugMask(), 0);
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kDebugging.key, -1), 0);

    // Escape takes FTP only.
    f.modals.answers = {true};
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    debugging->trigger();
    QCOMPARE(f.app->Log().DebugMask(), 2);
  }

  void debugTraceThatCannotOpenIsReportedBeforeTheTypeIsAsked() {
    WindowFixture f;
    std::filesystem::create_directory(f.Dir() + "Harbinex.dbg");
    f.modals.answers = {true};
    bool typeAsked = false;
    QPointer<QTimer> watcher = OnNextModal([&](QWidget* modal) {
      typeAsked = true;
      static_cast<QDialog*>(modal)->reject();
    });
    f.window->Action(Command::EnableDebugging)->trigger();  // a type dialog would be up, and closed, in here
    delete watcher.data();
    QCOMPARE(f.modals.Messages(), std::vector<std::string>{"Error opening debug file"});
    QVERIFY(!f.window->Action(Command::EnableDebugging)->isChecked());
    QCOMPARE(f.Config().GetProfileInt(cfg::kGeneral, cfg::kDebugging.key, -1), 0);
    QVERIFY(!typeAsked);
  }

  void debugTypeButtons() {
    const std::pair<const char*, int> buttons[] = {{"tftpOnly", 1}, {"ftpOnly", 2}, {"both", 3}};
    for (auto [name, mask] : buttons) {
      DebugTypeDialog dialog;
      OnNextModal([name](QWidget* modal) { modal->findChild<QPushButton*>(name)->click(); });
      QCOMPARE(dialog.exec(), mask);
    }
    DebugTypeDialog dialog;
    QCOMPARE(dialog.findChild<QPushButton*>("tftpOnly")->text(), QString("Tftp Only"));
    QCOMPARE(dialog.findChild<QPushButton*>("ftpOnly")->text(), QString("Ftp Only"));
    QCOMPARE(dialog.findChild<QPushButton*>("both")->text(), QString("Both Tftp and Ftp"));
    // Wide enough for its title beside the frame's buttons, instead of "D…".
    dialog.show();
    QFontMetrics metrics = dialog.fontMetrics();
    QVERIFY(dialog.width() >= metrics.horizontalAdvance("Debugging Type") + 4 * metrics.height());
  }

  void viewerLinesFollowTheLineRule_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("three, last open") << QByteArray("one\r\ntwo\nthree");
    QTest::newRow("terminated") << QByteArray("a\r\nb\r\n");
    QTest::newRow("blank lines") << QByteArray("\n\r\n\n");
    QTest::newRow("lone CR stays") << QByteArray("a\rb\r");
  }

  void viewerLinesFollowTheLineRule() {
    QFETCH(QByteArray, text);
    std::string s = text.toStdString();
    ViewerLines lines(s);
    std::vector<std::string> expected = SplitViewerLines(s);
    QCOMPARE(lines.Count(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) QCOMPARE(std::string(lines.Line(i)), expected[i]);
  }

  void viewerShowsTheFile() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/Harbinex.log";
    WriteText(path, "January 02, 1998 09:05:07 TFTP: one\r\nsecond\r\nthird");
    OutputViewer viewer(path, modals);
    QCOMPARE(viewer.windowTitle(), QString("View Output"));
    QCOMPARE(viewer.Model().rowCount(), 3);
    QCOMPARE(viewer.Model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Messages"));
    QCOMPARE(viewer.Model().data(viewer.Model().index(2, 0), Qt::DisplayRole).toString(), QString("third"));
    QVERIFY(viewer.List()->uniformRowHeights());

    std::string missing = dir.path().toStdString() + "/Harbinex.dbg";
    OutputViewer empty(missing, modals);
    QVERIFY(std::filesystem::exists(missing));
    QCOMPARE(empty.Model().rowCount(), 0);
    QCOMPARE(empty.Model().columnCount(), 1);
    QVERIFY(modals.Messages().empty());

    std::string unreadable = dir.path().toStdString() + "/folder";
    std::filesystem::create_directory(unreadable);
    OutputViewer refused(unreadable, modals);
    QCOMPARE(modals.Messages(), std::vector<std::string>{"Could not open " + unreadable});
    QCOMPARE(refused.Model().columnCount(), 0);
  }

  void viewerTakesAMillionLines() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/big.log";
    {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < 1000000; ++i) out << "December 07, 2024 21:03:00 TFTP: line " << i << "\r\n";
    }
    OutputViewer viewer(path, modals);
    QCOMPARE(viewer.Model().rowCount(), 1000000);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.List()->scrollToBottom();
    QModelIndex last = viewer.Model().index(999999, 0);
    QCOMPARE(viewer.Model().data(last, Qt::DisplayRole).toString(),
             QString("December 07, 2024 21:03:00 TFTP: line 999999"));
    QVERIFY(viewer.List()->visualRect(last).isValid());
  }

  void horizontalScrollBarOnlyForALongLine() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string shortPath = dir.path().toStdString() + "/short.log";
    std::string longPath = dir.path().toStdString() + "/long.log";
    WriteText(shortPath, "January 02, 1998 09:05:07 TFTP: one\r\ntwo\r\n");
    WriteText(longPath, "short\r\n" + std::string(300, 'W') + "\r\nshort\r\n");
    OutputViewer fits(shortPath, modals);
    OutputViewer tooWide(longPath, modals);
    fits.show();
    tooWide.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fits) && QTest::qWaitForWindowExposed(&tooWide));
    QTRY_VERIFY(tooWide.List()->horizontalScrollBar()->isVisible());
    QVERIFY(!fits.List()->horizontalScrollBar()->isVisible());
    // The long line can be scrolled into view whole.
    QModelIndex row = tooWide.Model().index(1, 0);
    QVERIFY(tooWide.List()->columnWidth(0) >= tooWide.List()->sizeHintForIndex(row).width());
    QCOMPARE(fits.List()->columnWidth(0), fits.List()->viewport()->width());
  }

  void menuOpensTheViewers() {
    WindowFixture f;
    WriteText(f.Dir() + "Harbinex.log", "a\nb\n");
    int rows = -1;
    OnNextModal([&](QWidget* modal) {
      rows = static_cast<OutputViewer*>(modal)->Model().rowCount();
      static_cast<QDialog*>(modal)->accept();
    });
    f.window->Action(Command::LogOutput)->trigger();
    QCOMPARE(rows, 2);
    OnNextModal([&](QWidget* modal) {
      rows = static_cast<OutputViewer*>(modal)->Model().rowCount();
      static_cast<QDialog*>(modal)->accept();
    });
    f.window->Action(Command::DebugOutput)->trigger();
    QCOMPARE(rows, 0);
    QVERIFY(std::filesystem::exists(f.Dir() + "Harbinex.dbg"));
  }
};

}  // namespace hx::test

int RunLogViewerTests(int argc, char** argv) {
  hx::test::LogViewerTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_log_viewer.moc"
