// The program itself with its window: started without arguments on a display, ended by a signal.
#include <QProcess>
#include <QTest>
#include <csignal>
#include <filesystem>

#include "ui/run_window.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {

class ProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void aWindowOnlyWhereItCanShow() {
    QByteArray saved[3];
    const char* names[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    for (int i = 0; i < 3; ++i) saved[i] = qgetenv(names[i]);
    for (const char* name : names) qunsetenv(name);
    QVERIFY(!WindowAvailable());
    qputenv("DISPLAY", ":7");
    QVERIFY(WindowAvailable());
    qunsetenv("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QVERIFY(WindowAvailable());
    for (int i = 0; i < 3; ++i) {
      if (saved[i].isNull())
        qunsetenv(names[i]);
      else
        qputenv(names[i], saved[i]);
    }
  }

  void startsWithItsWindowAndEndsCleanlyOnASignal() {
    QByteArray binary = qgetenv("HX_BINARY");
    if (binary.isEmpty()) QSKIP("HX_BINARY names no program (run through ctest)");
    QTemporaryDir dir;
    std::string ini = dir.path().toStdString() + "/Harbinex.ini";
    WriteText(ini, "[TFTP]\r\nTPort=0\r\n[FTP]\r\nFPort=0\r\nFDataPort=0\r\n");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QString::fromLocal8Bit(binary), {"--dir", dir.path()});
    QVERIFY(program.waitForStarted(10000));
    // The last key that start-up writes is the FTP directory: once it is there the window runs.
    QTRY_VERIFY_WITH_TIMEOUT(ReadText(ini).find("FDLDir=") != std::string::npos, 20000);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // Ended by the quit step: the column widths and the placement are stored, and nothing went to the console
    // of a headless run.
    std::string written = ReadText(ini);
    QVERIFY(written.find("[ColumnWidth]") != std::string::npos);
    QVERIFY(written.find("Status=") != std::string::npos);
    QVERIFY(written.find("WindowPlacement=") != std::string::npos);
    QVERIFY(!program.readAllStandardOutput().contains("listening on port"));
  }
};

}  // namespace hx::test

int RunProgramTests(int argc, char** argv) {
  hx::test::ProgramTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_program.moc"
