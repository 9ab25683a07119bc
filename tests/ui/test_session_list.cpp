// The session list: the model over the core's table, the notices that keep it current, clearing, the grid.
#include <QAction>
#include <QBrush>
#include <QClipboard>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/config_keys.h"
#include "app/transfer_log.h"
#include "app/worker.h"
#include "ui/session_actions.h"
#include "ui/session_filter.h"
#include "ui/session_model.h"
#include "ui/session_view.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

SessionNotice Inserted(int id) {
  return {SessionNotice::Kind::RowInserted, id, 0, {}};
}
SessionNotice Cell(int id, int column, std::string text, RateMeter::Clock::time_point at = {}) {
  return {SessionNotice::Kind::CellChanged, id, column, std::move(text), at};
}

constexpr const char* kVersionStatus = "Harbinex V1.1.007.";

// A session that runs until it is asked to stop.
class WaitingWorker : public Worker {
 public:
  using Worker::Worker;

 protected:
  void Run() override {}
};

}  // namespace

class SessionListTest : public QObject {
  Q_OBJECT

 private slots:
  void headingsAndAlignment() {
    SessionModel model;
    const char* headings[] = {"Start Time", "Type", "Peer", "File", "Bytes", "Progress", "Command", "Status"};
    QCOMPARE(model.columnCount(), 8);
    for (int c = 0; c < 8; ++c)
      QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), QString(headings[c]));
    model.Apply({Inserted(0), Cell(0, kColBytes, "512")}, {});
    auto alignment = [&](int column) {
      return model.data(model.index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>() &
             Qt::AlignHorizontal_Mask;
    };
    QCOMPARE(alignment(kListBytes), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(alignment(kListPeer), Qt::Alignment(Qt::AlignLeft));
  }

  void bytesAreGroupedAndEveryCellHasItsWholeTextAsTip() {
    SessionModel model;
    const char* status = "TFTP: Successful. Total bytes transferred: 12000000";
    model.Apply({Inserted(1), Cell(1, kColBytes, "12000000"), Cell(1, kColStatus, status),
                 Cell(1, kColFile, "images/boot.img"), Cell(1, kColPath, "/srv/tftp/images/boot.img")},
                {});
    QCOMPARE(model.data(model.index(0, kListBytes), Qt::DisplayRole).toString(), QString("12,000,000"));
    QCOMPARE(model.data(model.index(0, kListStatus), Qt::ToolTipRole).toString(), QString(status));
    QCOMPARE(model.data(model.index(0, kListBytes), Qt::ToolTipRole).toString(), QString("12,000,000"));
    QVERIFY(!model.data(model.index(0, kListPeer), Qt::ToolTipRole).isValid());
    // File shows the name asked for; its tip is the whole local path.
    QCOMPARE(model.data(model.index(0, kListFile), Qt::DisplayRole).toString(), QString("images/boot.img"));
    QCOMPARE(model.data(model.index(0, kListFile), Qt::ToolTipRole).toString(),
             QString("/srv/tftp/images/boot.img"));
  }

  void progressRunsUntilTheTransferEndsAndThenShowsHowItEnded_data() {
    QTest::addColumn<QString>("type");
    // Steps: "seconds cell text" notices, or "seconds measure expected-progress"; cell is a SessionColumn.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("workerGone");  // the last measure finds the session's worker gone
    QTest::addColumn<double>("share");     // of the bar at the end, -1 for none
    QTest::addColumn<bool>("red");
    const QString measure = "m";
    auto cell = [](int column) { return QString::number(column); };
    QTest::newRow("tftp success: 100 % at the average")
        << "Tftp Srv"
        << QStringList{"0|" + cell(kColTotal) + "|1000000",
                       "0|" + cell(kColBytes) + "|0",
                       "1|" + measure + "|0 % \u00b7 0 B/s",
                       "2|" + cell(kColBytes) + "|1000000",
                       "2|" + cell(kColStatus) + "|TFTP: Successful. Total bytes transferred: 1000000",
                       "2|" + cell(kColOutcome) + "|ok",
                       "3|" + measure + "|100 % \u00b7 500.0 KB/s"}
        << false << 1.0 << false;
    QTest::newRow("tftp client failure: where it stopped, no rate, red")
        << "Tftp Client"
        << QStringList{"0|" + cell(kColTotal) + "|1000000",   "0|" + cell(kColBytes) + "|0",
                       "1|" + cell(kColBytes) + "|400000",    "1|" + cell(kColStatus) + "|Receiving File",
                       "70|" + cell(kColOutcome) + "|failed", "71|" + measure + "|40 %"}
        << false << 0.4 << true;
    QTest::newRow("ftp server with an early 226: measured until the data ends")
        << "Ftp Srv"
        << QStringList{"0|" + cell(kColOutcome) + "|",
                       "0|" + cell(kColTotal) + "|1000000",
                       "0|" + cell(kColBytes) + "|0",
                       "0|" + cell(kColStatus) + "|226 File transfer successful.",
                       "0|" + measure + "|0 % \u00b7 0 B/s",
                       "1|" + cell(kColBytes) + "|520000",
                       "1|" + measure + "|52 % \u00b7 520.0 KB/s",
                       "4|" + cell(kColBytes) + "|1000000",
                       "4|" + cell(kColOutcome) + "|ok",
                       "5|" + measure + "|100 % \u00b7 250.0 KB/s"}
        << false << 1.0 << false;
    QTest::newRow("ftp client: its closing reply ends it")
        << "Ftp Client"
        << QStringList{"0|" + cell(kColBytes) + "|0", "3|" + cell(kColBytes) + "|3000000",
                       "3|" + cell(kColStatus) + "|226 Transfer complete",
                       "4|" + measure + "|100 % \u00b7 1.0 MB/s"}
        << false << 1.0 << false;
    QTest::newRow("a worker gone without a word: no rate")
        << "Tftp Srv" << QStringList{"0|" + cell(kColBytes) + "|0", "1|" + measure + "|"} << true << -1.0
        << false;
  }

  void progressRunsUntilTheTransferEndsAndThenShowsHowItEnded() {
    QFETCH(QString, type);
    QFETCH(QStringList, steps);
    QFETCH(bool, workerGone);
    QFETCH(double, share);
    QFETCH(bool, red);
    SessionModel model;
    const auto t0 = RateMeter::Clock::now();
    model.Apply({Inserted(1), Cell(1, kColType, type.toStdString(), t0)}, {});
    Activity activity;
    for (int i = 0; i < steps.size(); ++i) {
      const QStringList step = steps[i].split('|');
      const auto at = t0 + std::chrono::seconds(step[0].toInt());
      if (step[1] != "m") {
        model.Apply({Cell(1, step[1].toInt(), step[2].toStdString(), at)}, {});
        continue;
      }
      const bool last = i == steps.size() - 1;
      activity = model.Measure(at, [&](int) { return !(last && workerGone); });
      QCOMPARE(model.Shown(0, kListProgress), step[2]);
      QCOMPARE(activity.running, last ? 0 : 1);
    }
    QCOMPARE(activity.bytesPerSecond, 0.0);
    QCOMPARE(model.data(model.index(0, kListProgress), kShareRole).toDouble(), share);
    QCOMPARE(model.Failed(0), red);
  }

  void anotherTransferOnTheConnectionIsMeasuredAfresh() {
    SessionModel model;
    const auto t0 = RateMeter::Clock::now();
    const auto s = [&](int seconds) { return t0 + std::chrono::seconds(seconds); };
    model.Apply({Inserted(1), Cell(1, kColType, "Ftp Srv"), Cell(1, kColBytes, "0", s(0)),
                 Cell(1, kColBytes, "5000", s(1)), Cell(1, kColOutcome, kOutcomeSucceeded, s(1)),
                 Cell(1, kColBytes, "5000", s(2))},  // late: the transfer has ended
                {});
    QCOMPARE(model.Measure(s(2)).running, 0);
    QCOMPARE(model.Shown(0, kListProgress), QString("100 % \u00b7 5.0 KB/s"));
    model.Apply(
        {Cell(1, kColOutcome, "", s(3)), Cell(1, kColTotal, "100", s(3)), Cell(1, kColBytes, "0", s(3))}, {});
    QCOMPARE(model.Measure(s(3)).running, 1);
    QCOMPARE(model.Shown(0, kListProgress), QString("0 % \u00b7 0 B/s"));
  }

  // A failed session's Status is red. At the FTP server a refusal is a failure when it answers a transfer or
  // a login, or still stands after QUIT (the session kept its failed transfer's reply); one refused command
  // of an ordinary conversation is not.
  void failuresShowInTheErrorColour() {
    struct Case {
      const char* type;
      const char* command;
      const char* status;
      bool failed;
    };
    const Case cases[] = {
        {"Tftp Srv", "", "File was not found. Aborting transfer", true},
        {"Tftp Srv", "", "TFTP: Successful. Total bytes transferred: 5", false},
        {"Tftp Client", "", "Transfer cancelled by the operator", true},
        {"Ftp Client", "RETR a", "550 No such file", true},  // the server refused the client
        {"Ftp Srv", "CWD nowhere", "550 No such file", false},
        {"Ftp Srv", "RETR /srv/missing.bin", "550 /srv/missing.bin", true},
        {"Ftp Srv", "stor x", "553 Illegal file name", true},
        {"Ftp Srv", "QUIT", "550 /srv/missing.bin", true},
        {"Ftp Srv", "QUIT", "221 Service closing control connection", false},
        {"Ftps Srv", "PASS ****", "530 Login access denied", true},
        {"Ftp Srv", "CWD x", "530 Not logged in", true},
        {"Ftp Srv", "NOOP", "426 Transfer aborted by the operator", true},
        {"Ftp Srv", "RETR a", "150 File status OK ; about to open data connection", false},
    };
    SessionModel model;
    const QColor error(200, 0, 0);
    model.SetErrorColour(error);
    std::vector<SessionNotice> notices;
    int id = 0;
    for (const Case& c : cases) {
      notices.push_back(Inserted(++id));
      notices.push_back(Cell(id, kColType, c.type));
      notices.push_back(Cell(id, kColCommand, c.command));
      notices.push_back(Cell(id, kColStatus, c.status));
    }
    model.Apply(notices, {});
    id = 0;
    for (const Case& c : cases) {
      QVariant colour = model.data(model.index(model.RowOf(++id), kListStatus), Qt::ForegroundRole);
      QVERIFY2(colour.isValid() == c.failed, c.status);
      if (c.failed) QCOMPARE(colour.value<QBrush>().color(), error);
    }
    QVERIFY(!model.data(model.index(model.RowOf(1), kListCommand), Qt::ForegroundRole).isValid());
  }

  // The row menu without running sessions: copying and the folder of a row's file; nothing to end.
  void rowMenuCopiesRowsAndOpensTheFolder() {
    WindowFixture f;
    QVERIFY(f.app->Log().EnableLogging());
    f.window->Sessions()->Apply(
        {Inserted(1), Cell(1, kColType, "Tftp Srv"), Cell(1, kColPeer, "127.0.0.1:40000"),
         Cell(1, kColBytes, "1000"), Cell(1, kColPath, "/srv/tftp/boot/image.bin"), Inserted(2),
         Cell(2, kColType, "Ftp Srv"), Cell(2, kColPeer, "[::1]:2121")},
        {});
    SessionView* list = f.window->SessionList();
    SessionActions* actions = f.window->RowActions();
    auto enabled = [&] {
      actions->UpdateItems();
      QStringList on;
      for (QAction* action : actions->Menu()->actions())
        if (!action->isSeparator() && action->isEnabled()) on << action->text();
      return on;
    };
    QCOMPARE(enabled(), QStringList());
    list->selectRow(1);  // the older row: newest first
    QCOMPARE(enabled(), (QStringList{"Cop&y", "Copy &address", "&Open containing folder"}));
    actions->OpenContainingFolder();
    QCOMPARE(f.openedUrls, std::vector<std::string>{"file:///srv/tftp/boot"});

    list->selectAll();  // the version row is no session and is left out
    QCOMPARE(enabled(), (QStringList{"Cop&y", "Copy &address"}));
    list->setFocus();
    QTest::keySequence(list, QKeySequence::Copy);
    QStringList lines = QApplication::clipboard()->text().split('\n');
    QCOMPARE(lines.size(), 3);  // two rows, each ending in a line break
    QCOMPARE(lines[0].split('\t').size(), f.window->Sessions()->columnCount());
    QVERIFY(lines[0].startsWith(f.window->Sessions()->Shown(0, kListTime) + "\tFtp Srv\t[::1]:2121\t"));
    QVERIFY(lines[1].contains("\tTftp Srv\t127.0.0.1:40000\t"));
    actions->CopyAddress();  // the addresses without their ports
    QCOMPARE(QApplication::clipboard()->text(), QString("::1\n127.0.0.1"));

    // Each of these is logged, a line per row, in the log of the row's service.
    const std::string log = ReadText(f.Dir() + "Harbinex.log");
    for (const char* line : {"TFTP: Folder of /srv/tftp/boot/image.bin opened by the operator",
                             "FTP: Row of [::1]:2121 copied by the operator",
                             "TFTP: Row of 127.0.0.1:40000 copied by the operator",
                             "FTP: Address of [::1]:2121 copied by the operator",
                             "TFTP: Address of 127.0.0.1:40000 copied by the operator"})
      QVERIFY2(log.find(line) != std::string::npos, line);
  }

  void headerClickSortsAndNewestFirstReturns() {
    WindowFixture f;
    f.window->Sessions()->Apply({Inserted(1), Cell(1, kColBytes, "900"), Inserted(2),
                                 Cell(2, kColBytes, "12000000"), Inserted(3), Cell(3, kColBytes, "5000")},
                                {});
    QAbstractItemModel* shown = f.window->SessionList()->model();
    auto bytesAt = [&](int row) { return shown->index(row, kListBytes).data().toString(); };
    QCOMPARE(bytesAt(0), QString("5,000"));  // newest first
    f.window->SessionList()->sortByColumn(kListBytes, Qt::DescendingOrder);
    QCOMPARE(bytesAt(0), QString("12,000,000"));
    QCOMPARE(bytesAt(1), QString("5,000"));
    QCOMPARE(bytesAt(2), QString("900"));
    f.window->SessionList()->horizontalHeader()->setSortIndicator(-1, Qt::DescendingOrder);
    QCOMPARE(bytesAt(0), QString("5,000"));
    QCOMPARE(bytesAt(3), QString());  // the version row stays last
  }

  void versionRowStaysLastWhateverTheSort() {
    WindowFixture f;
    f.window->Sessions()->Apply(
        {Inserted(1), Cell(1, kColBytes, "900"), Cell(1, kColStatus, "A"), Inserted(2),
         Cell(2, kColBytes, "12000000"), Cell(2, kColStatus, "Z"), Inserted(3)},
        {});
    QAbstractItemModel* shown = f.window->SessionList()->model();
    QCOMPARE(shown->rowCount(), 4);
    for (int column = 0; column < kListColumns; ++column) {
      for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        f.window->SessionList()->sortByColumn(column, order);
        QCOMPARE(shown->index(3, kListStatus).data().toString(), QString(kVersionStatus));
      }
    }
  }

  void filterShowsTheRowsHoldingTheTextInAnyColumn_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("ids");  // shown, top down
    QTest::newRow("empty shows all") << "" << QList<int>{3, 2, 1, 0};
    QTest::newRow("file") << "boot" << QList<int>{1};
    QTest::newRow("any case") << "REPORT" << QList<int>{2};
    QTest::newRow("peer with its port") << "[::1]:2121" << QList<int>{2};
    QTest::newRow("type") << "srv" << QList<int>{2, 1};
    QTest::newRow("grouped bytes") << "12,000" << QList<int>{3};
    QTest::newRow("the version row too") << "harbinex v" << QList<int>{0};
    QTest::newRow("nothing") << "no such text" << QList<int>{};
  }

  void filterShowsTheRowsHoldingTheTextInAnyColumn() {
    QFETCH(QString, text);
    QFETCH(QList<int>, ids);
    SessionModel model;
    model.Apply(
        {Inserted(0), Cell(0, kColStatus, kVersionStatus), Inserted(1), Cell(1, kColType, "Tftp Srv"),
         Cell(1, kColPeer, "127.0.0.1:40000"), Cell(1, kColFile, "boot.img"), Inserted(2),
         Cell(2, kColType, "Ftp Srv"), Cell(2, kColPeer, "[::1]:2121"), Cell(2, kColFile, "Report.pdf"),
         Inserted(3), Cell(3, kColType, "Ftp Client"), Cell(3, kColBytes, "12000000")},
        {});
    SessionFilter filter(&model);
    filter.SetText(text);
    QList<int> shown;
    for (int row = 0; row < filter.rowCount(); ++row)
      shown.append(model.SessionIdAt(filter.mapToSource(filter.index(row, 0)).row()));
    QCOMPARE(shown, ids);
  }

  void filterFollowsChangedCellsAndTheBoxDrivesIt() {
    WindowFixture f;
    f.window->Sessions()->Apply(
        {Inserted(1), Cell(1, kColFile, "a.bin"), Inserted(2), Cell(2, kColFile, "b.bin")}, {});
    QAbstractItemModel* shown = f.window->SessionList()->model();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClick(f.window.get(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(f.window->FilterBox()->hasFocus());
    QTest::keyClicks(f.window->FilterBox(), "A.BIN");
    QCOMPARE(shown->rowCount(), 1);
    // A row whose cell comes to hold the text joins; one that stops holding it leaves.
    f.window->Sessions()->Apply({Cell(2, kColCommand, "RETR a.bin"), Cell(1, kColFile, "c.bin")}, {});
    QCOMPARE(shown->rowCount(), 1);
    QCOMPARE(shown->index(0, kListFile).data().toString(), QString("b.bin"));
    QTest::keyClick(f.window->FilterBox(), Qt::Key_Escape);
    QCOMPARE(f.window->FilterBox()->text(), QString());
    QCOMPARE(shown->rowCount(), 3);
  }

  void newestRowsFirstWhateverOrderTheyArrive() {
    SessionModel model;
    model.Apply({Inserted(0), Cell(0, kColStatus, "Harbinex V1.1.007."), Inserted(2), Inserted(1),
                 Inserted(3), Inserted(2), Cell(1, kColType, "Tftp Srv"), Cell(9, kColType, "gone")},
                {});
    QCOMPARE(model.rowCount(), 4);  // the repeated insert of 2 is ignored
    QCOMPARE(model.SessionIdAt(0), 3);
    QCOMPARE(model.SessionIdAt(1), 2);
    QCOMPARE(model.SessionIdAt(2), 1);
    QCOMPARE(model.SessionIdAt(3), 0);
    QCOMPARE(model.Cell(2, kColType), QString("Tftp Srv"));
    QCOMPARE(model.Cell(3, kColStatus), QString("Harbinex V1.1.007."));
  }

  void removalResynchronisesWithTheTable() {
    SessionModel model;
    model.Apply({Inserted(0), Inserted(1), Inserted(2), Inserted(3), Cell(2, kColStatus, "old")}, {});
    SessionRow version{0, {}};
    SessionRow two{2, {}};
    two.cells[kColStatus] = "running";
    SessionRow four{4, {}};  // inserted meanwhile, its notice still on the way
    std::vector<SessionRow> table = {four, two, version};
    int removedRows = 0;
    connect(&model, &QAbstractItemModel::rowsRemoved,
            [&](const QModelIndex&, int first, int last) { removedRows += last - first + 1; });
    model.Apply({{SessionNotice::Kind::RowsRemoved, 0, 0, {}}, Inserted(4)}, [&] { return table; });
    QCOMPARE(removedRows, 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.SessionIdAt(0), 4);
    QCOMPARE(model.SessionIdAt(1), 2);
    QCOMPARE(model.Cell(1, kColStatus), QString("running"));
    QCOMPARE(model.SessionIdAt(2), 0);
  }

  void rowsFollowWorkersOnManyThreads() {
    WindowFixture f;
    constexpr int kThreads = 16, kUpdates = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&f] {
        Worker* w = f.app->Registry().StartWorker(WorkerKind::Tftp,
                                                  std::make_unique<WaitingWorker>(f.app->Registry().Loops()));
        int id = w->m_nSessionId;
        for (int i = 1; i <= kUpdates; ++i)
          f.app->Registry().SetSessionText(id, kColBytes, std::to_string(i * 512));
        f.app->Registry().SetSessionText(id, kColStatus, "done");
        w->RequestStop();
      });
    }
    for (auto& t : threads) t.join();
    QTRY_COMPARE(f.window->Sessions()->rowCount(), kThreads + 1);
    auto rows = f.app->Registry().Rows();
    QTRY_VERIFY([&] {
      for (int r = 0; r < f.window->Sessions()->rowCount(); ++r)
        for (int c = 0; c < kSessionColumns; ++c)
          if (f.window->Sessions()->Cell(r, c).toStdString() !=
              rows[static_cast<size_t>(r)].cells[static_cast<size_t>(c)])
            return false;
      return true;
    }());
    QCOMPARE(f.window->Sessions()->Cell(0, kColBytes), QString::number(kUpdates * 512));
  }

  void clearingKeepsTheVersionRowAndRunningSessions() {
    WindowFixture f;
    // The running one starts first: starting a session reaps finished ones, which would take `finished`.
    Worker* running = f.app->Registry().StartWorker(
        WorkerKind::Ftp, std::make_unique<WaitingWorker>(f.app->Registry().Loops()));
    Worker* finished =
        f.app->Registry().StartWorker(WorkerKind::Tftp, std::make_unique<Worker>(f.app->Registry().Loops()));
    QVERIFY(finished && running);
    int runningId = running->m_nSessionId;
    QTRY_VERIFY(finished->Finished());
    QTRY_COMPARE(f.window->Sessions()->rowCount(), 3);
    f.window->Action(Command::ClearCompleted)->trigger();
    QTRY_COMPARE(f.window->Sessions()->rowCount(), 2);
    QCOMPARE(f.window->Sessions()->SessionIdAt(0), runningId);
    QCOMPARE(f.window->Sessions()->Cell(1, kColStatus), QString("Harbinex V1.1.007."));
    running->RequestStop();
  }

  void finishedRowsBeyondTheSettingLeaveOldestFirst() {
    WindowFixture f;
    WorkerRegistry& registry = f.app->Registry();
    std::vector<Worker*> running;
    for (int i = 0; i < 3; ++i)
      running.push_back(
          registry.StartWorker(WorkerKind::Ftp, std::make_unique<WaitingWorker>(registry.Loops())));
    // Sessions that end at once; the running ones are FTP sessions, so none of TFTP is left once all are
    // reaped.
    auto startFinished = [&](int count) {
      for (int i = 0; i < count; ++i)
        QVERIFY(registry.StartWorker(WorkerKind::Tftp, std::make_unique<Worker>(registry.Loops())));
      QTRY_VERIFY((registry.ReapFinishedWorkers(), registry.WorkerCount(WorkerKind::Tftp) == 0));
    };
    auto expectKept = [&](size_t finished) {
      std::vector<SessionRow> rows = registry.Rows();
      QCOMPARE(rows.size(), finished + running.size() + 1);
      // The newest finished rows stay, the running ones and the version row with them.
      const int last = registry.LastSessionId();
      for (size_t i = 0; i < finished; ++i) QCOMPARE(rows[i].id, last - static_cast<int>(i));
      for (size_t i = 0; i < running.size(); ++i)
        QCOMPARE(rows[finished + i].id, running[running.size() - 1 - i]->m_nSessionId);
      QCOMPARE(rows.back().id, 0);
      // The window follows: the same rows (their count alone stays put while rows come and go).
      auto shownIds = [&] {
        std::vector<int> ids;
        for (int row = 0; row < f.window->Sessions()->rowCount(); ++row)
          ids.push_back(f.window->Sessions()->SessionIdAt(row));
        return ids;
      };
      std::vector<int> ids;
      for (const SessionRow& row : rows) ids.push_back(row.id);
      QTRY_VERIFY(shownIds() == ids);
    };
    // Keeping every row, then the setting read again: the rows beyond it go at once.
    registry.SetKeepFinishedRows(0);
    startFinished(2000);
    expectKept(2000);
    f.Config().WriteProfileInt(cfg::kGeneral, cfg::kKeepFinishedRows.key, 500);
    f.window->ApplyKeepFinishedRows();
    expectKept(500);
    // New sessions push the oldest finished rows out one by one.
    startFinished(100);
    expectKept(500);
    for (Worker* w : running) w->RequestStop();
  }

  void gridRulesTheWholeView() {
    SessionModel model;
    model.Apply({Inserted(0)}, {});
    SessionView view;
    view.setModel(&model);
    view.resize(400, 300);
    for (int c = 0; c < 6; ++c) view.setColumnWidth(c, 60);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QImage image = view.viewport()->grab().toImage();
    const int h = view.rowHeight(0);
    QColor line = view.palette().color(QPalette::Mid);
    // Below the only row, ruled lines go on where rows would be; column edges run to the bottom.
    int y = 4 * h - 1;
    QVERIFY(y < image.height() / image.devicePixelRatio());
    QCOMPARE(image.pixelColor(30, y).rgb(), line.rgb());
    QVERIFY(image.pixelColor(30, y - 2).rgb() != line.rgb());
    QCOMPARE(image.pixelColor(59, image.height() - 2).rgb(), line.rgb());
    QVERIFY(image.pixelColor(57, image.height() - 2).rgb() != line.rgb());
  }

  void gridFollowsTheScrolledRows() {
    SessionModel model;
    std::vector<SessionNotice> rows;
    for (int id = 0; id < 100; ++id) rows.push_back(Inserted(id));
    model.Apply(rows, {});
    SessionView view;
    view.setModel(&model);
    view.resize(400, 300);
    for (int c = 0; c < 7; ++c) view.setColumnWidth(c, 50);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const int h = view.rowHeight(0);
    // A view whose height is no multiple of the row height ends on a cut row at the top once at the bottom.
    view.resize(400, view.height() + h / 2 - view.viewport()->height() % h);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QTRY_VERIFY(view.rowViewportPosition(view.rowAt(0)) < 0);
    QImage image = view.viewport()->grab().toImage();
    QColor line = view.palette().color(QPalette::Mid);
    int last = model.rowCount() - 1;
    for (int row : {last, last - 3}) {
      int bottom = view.rowViewportPosition(row) + h - 1;
      QCOMPARE(image.pixelColor(25, bottom).rgb(), line.rgb());
      QVERIFY(image.pixelColor(25, bottom - h / 2).rgb() != line.rgb());
    }
  }
};

}  // namespace hx::test

int RunSessionListTests(int argc, char** argv) {
  hx::test::SessionListTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_session_list.moc"
