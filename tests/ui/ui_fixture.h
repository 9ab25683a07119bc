#pragma once

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/config_store.h"
#include "app/listener.h"
#include "app/server_app.h"
#include "ui/client_launcher.h"
#include "ui/main_window.h"
#include "ui/modals.h"
#include "ui/window_frontend.h"

namespace hx::test {

// Answers every message box and question at once and remembers them, so no test waits on a modal loop.
class RecordingModals : public Modals {
 public:
  void Message(QWidget*, const std::string& text) override {
    std::lock_guard guard(m_lock);
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
  bool Question(QWidget*, const std::string& text, Icon icon) override {
    std::lock_guard guard(m_lock);
    questions.push_back(text);
    lastIcon = icon;
    if (answers.empty()) return defaultAnswer;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> ChooseDirectory(QWidget*, const std::string& title,
                                             const std::string& startDir) override {
    chooserTitles.push_back(title);
    chooserStartDirs.push_back(startDir);
    return chosenDirectory;
  }
  std::optional<std::string> ChooseFile(QWidget*, const std::string& startDir, bool forSaving) override {
    fileChooserDirs.push_back(startDir);
    fileChooserSaving.push_back(forSaving);
    return chosenFile;
  }

  std::vector<std::string> Messages() {
    std::lock_guard guard(m_lock);
    return messages;
  }
  void Clear() {
    std::lock_guard guard(m_lock);
    messages.clear();
    questions.clear();
  }

  std::recursive_mutex m_lock;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;
  bool defaultAnswer = true;
  Icon lastIcon = Icon::None;
  std::function<void(const std::string&)> onMessage;
  std::optional<std::string> chosenDirectory;
  std::optional<std::string> chosenFile;
  std::vector<std::string> chooserTitles;
  std::vector<std::string> chooserStartDirs;
  std::vector<std::string> fileChooserDirs;
  std::vector<bool> fileChooserSaving;
};

// A listener that opens or not as told; a failing one reports its failure in a message box from the network
// thread, as a real listener does.
class FakeListener : public Listener {
 public:
  FakeListener(AppContext& context, bool opens, const char* failure)
      : m_context(context), m_opens(opens), m_failure(failure) {}
  bool Open() override {
    if (!m_opens) m_context.frontend.MessageBox(m_failure);
    return m_opens;
  }
  std::uint16_t Port() const override { return 4242; }

 private:
  AppContext& m_context;
  bool m_opens;
  const char* m_failure;
};

struct ListenerSwitches {
  std::atomic<bool> tftpOpens{true};
  std::atomic<bool> ftpOpens{true};
  std::atomic<int> ftpMade{0};  // FTP listeners made so far
  std::atomic<int> tftpMade{0};
};

inline ServerApp::Services FakeServices(std::shared_ptr<ListenerSwitches> switches) {
  return {[switches](AppContext& c, asio::io_context&) {
            ++switches->tftpMade;
            return std::make_unique<FakeListener>(c, switches->tftpOpens.load(), "TFTP listener failed");
          },
          [switches](AppContext& c, asio::io_context&) {
            ++switches->ftpMade;
            return std::make_unique<FakeListener>(c, switches->ftpOpens.load(), "FTP listener failed");
          },
          {}};
}

// A program directory with the window around a core whose listeners are fakes.
class WindowFixture {
 public:
  struct Options {
    std::string ini;  // written to Harbinex.ini first, e.g. "[TFTP]\nTFTPServer=0\n"
    ClientLauncher launcher;
    bool trayAvailable = false;
    bool tftpOpens = true;
    bool ftpOpens = true;
    // The program's own TFTP and FTP listeners instead of the fakes.
    bool realServices = false;
  };
  explicit WindowFixture(Options options);
  explicit WindowFixture(const std::string& ini = "")
      : WindowFixture(Options{ini, {}, false, true, true, false}) {}
  ~WindowFixture();

  std::string Dir() const { return dir.path().toStdString() + "/"; }
  ConfigStore& Config() { return app->Config(); }

  QTemporaryDir dir;
  std::shared_ptr<ListenerSwitches> switches = std::make_shared<ListenerSwitches>();
  RecordingModals modals;
  std::unique_ptr<WindowFrontend> frontend;
  std::unique_ptr<ServerApp> app;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> openedUrls;
  bool started = false;
};

// Runs `act` on the next modal dialog once it is up (polled, bounded), e.g. to press one of its buttons.
// Returns the polling timer, so that a test expecting no dialog can stop it.
QPointer<QTimer> OnNextModal(std::function<void(QWidget*)> act);

// The message boxes on the screen.
int OpenMessageBoxes();

// What keeps the keyboard from reaching every control of `page`: a button or a field's label without a
// mnemonic, a field without a label that leads to it, two controls with one mnemonic. The OK and Cancel of a
// button box are left out: Enter and Escape press them.
std::vector<std::string> MnemonicFaults(QWidget* page);

// Writes a file whole.
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

}  // namespace hx::test
