#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/harbinex_process.h"
#include "support/temp_dir.h"
#include "udp_peer.h"

namespace hx::test {

// A headless harbinex with only the TFTP service, its TDLDir in a temporary directory, logging on and short
// timeouts (a test that waits for a retransmission sets its own, shorter ones).
class TftpServerFixture : public testing::Test {
 protected:
  void Start(const std::vector<std::string>& extra = {}) {
    std::filesystem::create_directories(Dl());
    std::vector<std::string> entries = {"TFTP/TPort=0",    "FTP/FTPServer=0", "General/Logging=1",
                                        "TFTP/TTimeout=2", "TFTP/TRetries=3", "TFTP/TDLDir=" + DlDir()};
    // An extra entry replaces the default of its key (the first entry of a key is the one that counts).
    for (const std::string& entry : extra) {
      std::string key = entry.substr(0, entry.find('=') + 1);
      std::erase_if(entries, [&](const std::string& e) { return e.compare(0, key.size(), key) == 0; });
      entries.push_back(entry);
    }
    WriteIni(dir.Path(), entries);
    program = std::make_unique<HarbinexProcess>(dir.Path(), /*expectTftp=*/true, /*expectFtp=*/false);
  }
  void TearDown() override {
    // A clean exit also means no sanitizer report in the program.
    if (program) {
      EXPECT_EQ(program->Stop(), 0) << program->Stderr();
    }
  }

  std::filesystem::path Dl() const { return dir.Path() / "dl"; }
  std::string DlDir() const { return Dl().string() + "/"; }
  std::filesystem::path Work() const {
    std::filesystem::create_directories(dir.Path() / "work");
    return dir.Path() / "work";
  }
  std::uint16_t Port() const { return program->TftpPort(); }
  std::string LogFile() const { return ReadFile(dir.Path() / "Harbinex.log"); }
  // Waits until the transfer log holds `line` (the file, as the service writes it).
  bool WaitForLog(const std::string& line) const {
    return WaitUntil([&] { return LogFile().find(line) != std::string::npos; });
  }
  // Runs the tftp-hpa client in the work directory, e.g. {"get", "remote", "local"}; returns what it
  // printed (the client's exit status says nothing about the transfer).
  std::string TftpClient(const std::vector<std::string>& command, const std::string& mode = "octet",
                         const std::string& host = "127.0.0.1") const {
    std::vector<std::string> argv = {"tftp", "-m", mode, host, std::to_string(Port()), "-c"};
    argv.insert(argv.end(), command.begin(), command.end());
    std::string output;
    RunCommand(argv, output, std::chrono::seconds(30), {}, Work());
    return output;
  }
  // Runs curl quietly in the work directory; returns its exit status.
  int Curl(const std::vector<std::string>& args, std::string* output = nullptr) const {
    std::vector<std::string> argv = {"curl", "-sS", "--max-time", "20"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string text;
    int status = RunCommand(argv, text, std::chrono::seconds(30), {}, Work());
    if (output) *output = text;
    return status;
  }
  std::string Url(const std::string& name) const {
    return "tftp://127.0.0.1:" + std::to_string(Port()) + "/" + name;
  }

  TempDir dir;
  std::unique_ptr<HarbinexProcess> program;
};

// Bytes that differ from block to block and are not all printable.
std::string Content(size_t size, unsigned seed = 1);
// How often `what` occurs in `text` (a log, a program's output).
size_t Count(const std::string& text, const std::string& what);

}  // namespace hx::test
