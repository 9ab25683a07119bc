// Logging and debugging switches, the "Debugging Type" dialog and the output viewer.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/config_keys.h"
#include "app/text_lines.h"
#include "ui/debug_type_dialog.h"
#include "ui/find_bar.h"
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
    QCOMPARE(dialog.findChild<QPushButton*>("tftpOnly")->text(), QString("&Tftp Only"));
    QCOMPARE(dialog.findChild<QPushButton*>("ftpOnly")->text(), QString("&Ftp Only"));
    QCOMPARE(dialog.findChild<QPushButton*>("both")->text(), QString("&Both Tftp and Ftp"));
    // Wide enough for its title, bold and larger in the frame, beside the frame's buttons, instead of
    // "Debugg...g Type".
    dialog.show();
    QFont frameFont = dialog.font();
    frameFont.setBold(true);
    frameFont.setPointSizeF(dialog.font().pointSizeF() * 1.25);
    QFontMetrics metrics(frameFont);
    QVERIFY(dialog.width() >= metrics.horizontalAdvance("Debugging Type") + 6 * metrics.height());
  }

  void viewerLinesFollowTheLineRule_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("three, last open") << QByteArray("one\r\ntwo\nthree");
    QTest::newRow("terminated") << QByteArray("a\r\nb\r\n");
    QTest::newRow("blank lines") << QByteArray("\n\r\n\n");
    QTest::newRow("lone CR stays") << QByteArray("a\rb\r");
    QTest::newRow("CR LF split") << QByteArray("a\r\nb\r\n\r\nc");
  }

  // Read whole, or in two parts at every split as a growing file is, the lines are those of the whole text,
  // and the count announced before the second part is the count after it.
  void viewerLinesFollowTheLineRule() {
    QFETCH(QByteArray, text);
    std::string whole = text.toStdString();
    std::vector<std::string> expected = SplitViewerLines(whole);
    for (size_t split = 0; split <= whole.size(); ++split) {
      ViewerLines lines(whole.substr(0, split));
      std::string_view more = std::string_view(whole).substr(split);
      QCOMPARE(lines.CountAfter(more), expected.size());
      lines.Append(more);
      QCOMPARE(lines.Count(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) QCOMPARE(std::string(lines.Line(i)), expected[i]);
    }
  }

  void viewerShowsTheFile() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/Harbinex.log";
    WriteText(path, "January 02, 1998 09:05:07 TFTP: one\r\nsecond\r\nthird");
    OutputViewer viewer(path, "Log Output", modals);
    QCOMPARE(viewer.windowTitle(), QString("Log Output"));
    QCOMPARE(viewer.Model().rowCount(), 3);
    QCOMPARE(viewer.Model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Messages"));
    QCOMPARE(viewer.Model().data(viewer.Model().index(2, 0), Qt::DisplayRole).toString(), QString("third"));
    QVERIFY(viewer.List()->uniformRowHeights());

    std::string missing = dir.path().toStdString() + "/Harbinex.dbg";
    OutputViewer empty(missing, "Debug Output", modals);
    QVERIFY(std::filesystem::exists(missing));
    QCOMPARE(empty.Model().rowCount(), 0);
    QCOMPARE(empty.Model().columnCount(), 1);
    QVERIFY(modals.Messages().empty());

    std::string unreadable = dir.path().toStdString() + "/folder";
    std::filesystem::create_directory(unreadable);
    OutputViewer refused(unreadable, "Log Output", modals);
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
    OutputViewer viewer(path, "Log Output", modals);
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
    OutputViewer fits(shortPath, "Log Output", modals);
    OutputViewer tooWide(longPath, "Log Output", modals);
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

  void menuOpensTheViewersBesideTheWindow() {
    WindowFixture f;
    WriteText(f.Dir() + "Harbinex.log", "a\nb\n");
    f.window->Action(Command::LogOutput)->trigger();
    QVERIFY(!QApplication::activeModalWidget());  // the main window goes on being served
    QList<OutputViewer*> open = f.window->findChildren<OutputViewer*>();
    QCOMPARE(open.size(), 1);
    QCOMPARE(open[0]->windowTitle(), QString("Log Output"));
    QCOMPARE(open[0]->Model().rowCount(), 2);
    QVERIFY(open[0]->isVisible());
    f.window->Action(Command::LogOutput)->trigger();  // raised, not opened twice
    QCOMPARE(f.window->findChildren<OutputViewer*>().size(), 1);

    f.window->Action(Command::DebugOutput)->trigger();
    QVERIFY(std::filesystem::exists(f.Dir() + "Harbinex.dbg"));
    open = f.window->findChildren<OutputViewer*>();
    QCOMPARE(open.size(), 2);
    QCOMPARE(open[1]->windowTitle(), QString("Debug Output"));
    QCOMPARE(open[1]->Model().rowCount(), 0);
    // Escape closes a viewer, and a closed viewer goes.
    QPointer<OutputViewer> closed = open[1];
    closed->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(closed.data()));
    QTest::keyClick(closed.data(), Qt::Key_Escape);
    QTRY_VERIFY(closed.isNull());
  }

  void viewerLinesFind() {
    ViewerLines lines(
        "Login of BOB\r\nbob and bob again\na bobcat\nGR\xc3\x9c\xc3\x9f \xc9t\xc9\r\nBob's line\n");
    struct Case {
      std::string needle;
      bool caseSensitive;
      size_t from;
      std::vector<size_t> lines;
    };
    const Case cases[] = {
        {"bob", false, 0, {0, 1, 2, 4}},  // a line with two hits is listed once
        {"bob", true, 0, {1, 2}},
        {"Bob", true, 0, {4}},
        {"bob", false, 2, {2, 4}},
        {"\xe9t\xe9", false, 0, {3}},  // Latin-1 letters fold too
        {"\xe9t\xe9", true, 0, {}},
        {"line\n", false, 0, {}},  // never across a line end
        {"", false, 0, {}},
        {"bob", false, 9, {}},
    };
    for (const Case& c : cases) QCOMPARE(lines.Find(c.needle, c.caseSensitive, c.from), c.lines);
    // Narrowed as the needle grows.
    QCOMPARE(lines.FindAmong("bob a", false, {0, 1, 2, 4}), std::vector<size_t>{1});
    QCOMPARE(lines.FindAmong("BOB", true, {1, 2, 4}), std::vector<size_t>{});
  }

  void findBarFindsAMarkerAmong200000Lines() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/Harbinex.log";
    const std::map<int, std::string> markers = {
        {1000, "MARKER alpha"}, {100000, "MARKER beta"}, {150000, "a marker in lower case"}};
    {
      std::ofstream out(path, std::ios::binary);
      for (int i = 0; i < 200000; ++i) {
        auto marker = markers.find(i);
        out << "December 07, 2024 21:03:00 TFTP: line " << i << ' '
            << (marker == markers.end() ? "" : marker->second) << "\r\n";
      }
    }
    OutputViewer viewer(path, "Log Output", modals);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    QVERIFY(viewer.Finder()->isHidden());
    QTest::keyClick(viewer.List(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(viewer.Finder()->isVisible());
    QVERIFY(viewer.Finder()->Edit()->hasFocus());

    auto shownRow = [&] { return viewer.List()->currentIndex().row(); };
    QTest::keyClicks(viewer.Finder()->Edit(), "marker");
    QCOMPARE(viewer.Finder()->CountText(), QString("1 of 3"));
    QCOMPARE(shownRow(), 1000);
    QVERIFY(viewer.List()
                ->visualRect(viewer.List()->currentIndex())
                .intersects(viewer.List()->viewport()->rect()));
    const std::pair<Qt::KeyboardModifiers, std::pair<const char*, int>> steps[] = {
        {Qt::NoModifier, {"2 of 3", 100000}},    {Qt::NoModifier, {"3 of 3", 150000}},
        {Qt::NoModifier, {"1 of 3", 1000}},      {Qt::ShiftModifier, {"3 of 3", 150000}},
        {Qt::ShiftModifier, {"2 of 3", 100000}},
    };
    for (const auto& [modifiers, expected] : steps) {
      QTest::keyClick(viewer.Finder()->Edit(), Qt::Key_F3, modifiers);
      QCOMPARE(viewer.Finder()->CountText(), QString(expected.first));
      QCOMPARE(shownRow(), expected.second);
    }
    QTest::keyClick(viewer.Finder()->Edit(), Qt::Key_Return);  // Enter goes on too
    QCOMPARE(viewer.Finder()->CountText(), QString("3 of 3"));

    viewer.Finder()->CaseBox()->click();
    QCOMPARE(viewer.Finder()->CountText(), QString("1 of 1"));
    QCOMPARE(shownRow(), 150000);
    viewer.Finder()->Edit()->setText("MARKER");
    QCOMPARE(viewer.Finder()->CountText(), QString("1 of 2"));
    viewer.Finder()->Edit()->setText("MARKER gamma");
    QCOMPARE(viewer.Finder()->CountText(), QString("No matches"));

    viewer.Finder()->Edit()->setFocus();
    QTest::keyClick(viewer.Finder()->Edit(), Qt::Key_Escape);
    QVERIFY(viewer.Finder()->isHidden());
    QVERIFY(viewer.isVisible());  // the first Escape closes the bar only
  }

  void viewerFollowsTheFileWhileAtItsEnd() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/Harbinex.log";
    std::string text;
    for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i) + "\r\n";
    WriteText(path, text);
    OutputViewer viewer(path, "Log Output", modals);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QScrollBar* scroll = viewer.List()->verticalScrollBar();
    QVERIFY(scroll->maximum() > 0);
    QTRY_COMPARE(scroll->value(), scroll->maximum());  // it opens at the newest line
    QCOMPARE(viewer.List()->currentIndex().row(), 499);

    auto append = [&](const std::string& more) {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out << more;
    };
    append("line 500\r\nline 501 goes");
    QTRY_COMPARE(viewer.Model().rowCount(), 502);
    QVERIFY(viewer.Following());
    QCOMPARE(scroll->value(), scroll->maximum());
    append(" on\r\n");
    QTRY_COMPARE(viewer.Model().data(viewer.Model().index(501, 0), Qt::DisplayRole).toString(),
                 QString("line 501 goes on"));
    QCOMPARE(viewer.Model().rowCount(), 502);

    // Scrolled up, the view stays where the user put it.
    scroll->setValue(10);
    QVERIFY(!viewer.Following());
    append("line 502\r\n");
    QTRY_COMPARE(viewer.Model().rowCount(), 503);
    QCOMPARE(scroll->value(), 10);
    // Back at the end, it follows again.
    scroll->setValue(scroll->maximum());
    append("line 503\r\n");
    QTRY_COMPARE(viewer.Model().rowCount(), 504);
    QCOMPARE(scroll->value(), scroll->maximum());
    // A file written anew, shorter, is read again whole.
    WriteText(path, "fresh\r\n");
    QTRY_COMPARE(viewer.Model().rowCount(), 1);
    QCOMPARE(viewer.Model().data(viewer.Model().index(0, 0), Qt::DisplayRole).toString(), QString("fresh"));
    // A file removed meanwhile leaves the lines shown, and is not made again.
    std::filesystem::remove(path);
    viewer.Refresh();
    QCOMPARE(viewer.Model().rowCount(), 1);
    QVERIFY(!std::filesystem::exists(path));
  }

  void viewerCopiesTheSelectedLines() {
    QTemporaryDir dir;
    RecordingModals modals;
    std::string path = dir.path().toStdString() + "/Harbinex.log";
    WriteText(path, "zero\r\none\r\ntwo\r\nthree\r\nfour\xe9\r\n");
    OutputViewer viewer(path, "Log Output", modals);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QItemSelectionModel* selection = viewer.List()->selectionModel();
    // Chosen out of order and overlapping, the lines come in file order, each once.
    for (auto [top, bottom] : {std::pair{4, 4}, std::pair{1, 2}, std::pair{2, 2}})
      selection->select(QItemSelection(viewer.Model().index(top, 0), viewer.Model().index(bottom, 0)),
                        QItemSelectionModel::Select);
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    viewer.List()->setFocus();
    QTest::keyClick(viewer.List(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("one\ntwo\nfour\u00e9"));
  }
};

}  // namespace hx::test

int RunLogViewerTests(int argc, char** argv) {
  hx::test::LogViewerTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_log_viewer.moc"
