// The tray icon with its menu, starting and minimising into the tray, the splash window, and the art.
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include "app/config_keys.h"
#include "ui/art.h"
#include "ui/modals.h"
#include "ui/splash_panel.h"
#include "ui/tray_icon.h"
#include "ui_fixture.h"
#include "ui_tests.h"

namespace hx::test {
namespace {

bool HasInk(const QPixmap& pixmap) {
  QImage image = pixmap.toImage();
  int opaque = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 0;
  return opaque > image.width() * image.height() / 8;
}

}  // namespace

class TrayAndSplashTest : public QObject {
  Q_OBJECT

 private slots:
  void trayIconShowsAndHidesOnce() {
    QWidget owner;
    QMenu menu;
    TrayIcon none;
    QVERIFY(!none.Install(&owner, kTrayTip, ProgramIcon(), &menu, false));
    none.AddToTray();
    QVERIFY(!none.Visible());

    TrayIcon tray;
    QVERIFY(tray.Install(&owner, kTrayTip, ProgramIcon(), &menu, true));
    QVERIFY(tray.Visible());
    tray.RemoveFromTray();
    tray.RemoveFromTray();
    QVERIFY(tray.IconRemoved());
    tray.AddToTray();
    tray.AddToTray();
    QVERIFY(tray.Visible());
    tray.DropIcon();
    QVERIFY(!tray.Available());
  }

  void trayMenuItemsInOrder() {
    WindowFixture f;
    QStringList texts;
    for (QAction* a : f.window->TrayMenu()->actions()) texts << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(texts, (QStringList{"&About", "-", "&Configure", "&Show Window", "-", "Toggle &FTP",
                                 "Toggle &TFTP", "-", "E&xit"}));
    QCOMPARE(f.window->TrayMenu()->defaultAction()->text(), QString("&About"));
    // Its toggles are the window's.
    f.modals.answers = {true};
    f.window->TrayMenu()->actions()[6]->trigger();
    QVERIFY(!f.app->TftpServiceOn());
  }

  void doubleClickOnTheIconOpensAbout() {
    WindowFixture::Options o;
    o.trayAvailable = true;
    WindowFixture f(o);
    QString caption;
    OnNextModal([&](QWidget* modal) {
      caption = modal->windowTitle();
      static_cast<QDialog*>(modal)->accept();
    });
    emit f.window->Tray().DoubleClicked();
    QCOMPARE(caption, QString("About Harbinex"));
  }

  void startsInTheTrayAndMinimisesIntoIt() {
    // Shown from the tray, the window comes where it was left, and the icon stays for the way back.
    const std::pair<const char*, bool> placements[] = {{"30,40,610,330,0", false}, {"30,40,610,330,1", true}};
    for (auto [placement, maximised] : placements) {
      WindowFixture::Options o;
      o.ini = std::string("[General]\r\nSystemTray=1\r\nWindowPlacement=") + placement + "\r\n";
      o.trayAvailable = true;
      WindowFixture f(o);
      QVERIFY(f.started);
      QVERIFY(!f.window->isVisible());
      QVERIFY(f.window->Tray().Visible());
      f.window->TrayMenu()->actions()[3]->trigger();  // Show Window
      QVERIFY(f.window->isVisible());
      QCOMPARE(f.window->isMaximized(), maximised);
      QCOMPARE(f.window->normalGeometry(), QRect(30, 40, 610, 330));
      QVERIFY(f.window->Tray().Visible());
      f.window->showMinimized();
      QTRY_VERIFY(!f.window->isVisible());
      QVERIFY(f.window->Tray().Visible());
      f.window->showNormal();
      QVERIFY(f.window->Tray().Visible());
    }
  }

  void aBoxOverAHiddenWindowIsCentredOnTheScreen() {
    QWidget hidden;  // as the window is while the program sits in the tray
    hidden.setGeometry(0, 0, 100, 100);
    QtModals modals;
    QPoint centre;
    OnNextModal([&](QWidget* box) {
      centre = box->frameGeometry().center();
      static_cast<QDialog*>(box)->accept();
    });
    modals.Message(&hidden, "TFTP listener failed");
    QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((centre - screenCentre).manhattanLength() <= 2,
             qPrintable(QString("box centred at %1,%2").arg(centre.x()).arg(centre.y())));
  }

  void withoutATrayTheWindowStartsAndSaysWhy() {
    WindowFixture f("[General]\r\nSystemTray=1\r\n");
    QVERIFY(f.started);
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.modals.Messages().size(), size_t{1});
    QVERIFY(f.modals.Messages()[0].find("no system tray") != std::string::npos);
    f.window->showMinimized();
    QVERIFY(f.window->isVisible());  // minimised, not hidden: there is no tray to come back from
  }

  void splashEndsOnAKeyOrItsTime() {
    QPointer<SplashPanel> byKey = new SplashPanel(SplashPicture(1.0), SplashPanel::kDisplayMs);
    QVERIFY(byKey->Open());
    QVERIFY(byKey->isVisible());
    QTest::keyClick(byKey.data(), Qt::Key_Space);
    QTRY_VERIFY(byKey.isNull());

    QPointer<SplashPanel> byClick = new SplashPanel(SplashPicture(1.0), SplashPanel::kDisplayMs);
    QVERIFY(byClick->Open());
    QTest::mouseClick(byClick.data(), Qt::RightButton);
    QTRY_VERIFY(byClick.isNull());

    QPointer<SplashPanel> byTime = new SplashPanel(SplashPicture(1.0), 30);
    QVERIFY(byTime->Open());
    QTRY_VERIFY(byTime.isNull());

    QPointer<SplashPanel> none = new SplashPanel(QPixmap(), 30);
    QVERIFY(!none->Open());
    QTRY_VERIFY(none.isNull());
  }

  void artIsCrispAtEverySize() {
    for (ToolbarImage image : {ToolbarImage::TftpOn, ToolbarImage::FtpOn, ToolbarImage::Config,
                               ToolbarImage::Exit, ToolbarImage::TftpOff, ToolbarImage::FtpOff}) {
      QIcon icon = ToolbarIcon(image);
      for (qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap = icon.pixmap(QSize(32, 32), ratio);
        QCOMPARE(pixmap.size(), QSize(32, 32) * ratio);
        QVERIFY(HasInk(pixmap));
      }
    }
    QVERIFY(HasInk(ProgramIcon().pixmap(QSize(256, 256))));
    QPixmap splash = SplashPicture(2.0);
    QCOMPARE(splash.deviceIndependentSize().toSize(), QSize(480, 270));
    QCOMPARE(splash.size(), QSize(960, 540));
    // The on and off pictures differ.
    QVERIFY(ToolbarIcon(ToolbarImage::TftpOn).pixmap(32, 32).toImage() !=
            ToolbarIcon(ToolbarImage::TftpOff).pixmap(32, 32).toImage());
  }
};

}  // namespace hx::test

int RunTrayAndSplashTests(int argc, char** argv) {
  hx::test::TrayAndSplashTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_tray_splash.moc"
