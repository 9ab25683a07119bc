// harbinex ftp get|put against Harbinex's own FTP server, anonymous and with a profile kept by `users`.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "integration/clients/ftp_client_tool.h"
#include "support/harbinex_process.h"
#include "support/temp_dir.h"
#include "tls/certificate.h"

namespace hx::test {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(engine() & 0xFF);
  return bytes;
}

class HarbinexServerClient : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteIni(server.Path(),
             {"TFTP/TFTPServer=0", "FTP/FPort=0", "FTP/FDataPort=0", "FTP/FDLDir=" + root.Dir(),
              "FTP/AnonAllowed=1", "FTP/FAllowUpload=1", "FTP/FAllowDownload=1"});
  }
  ToolRun Ftp(const HarbinexProcess& process, const std::string& direction, const std::string& user,
              const std::string& password, const std::string& remote, const std::string& localName,
              const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"ftp",
                                     direction,
                                     "127.0.0.1:" + std::to_string(process.FtpPort()),
                                     user,
                                     password,
                                     remote,
                                     (client.Path() / localName).string(),
                                     "--dir",
                                     client.Path().string()};
    args.insert(args.end(), options.begin(), options.end());
    return RunHarbinex(args);
  }

  TempDir server;  // the server's program directory
  TempDir root;    // what it serves
  TempDir client;  // the client's program directory and local files
};

TEST_F(HarbinexServerClient, AnonymousGetAndPut) {
  HarbinexProcess process(server.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  const std::string content = RandomBytes(777'777, 3);
  WriteFile(root.Path() / "down.bin", content);

  ToolRun get = Ftp(process, "get", "anonymous", "me@example", "down.bin", "down.bin");
  ASSERT_EQ(get.status, 0) << get.out << get.err;
  EXPECT_EQ(get.out, "221 Service closing control connection\n");
  EXPECT_EQ(ReadFile(client.Path() / "down.bin"), content);

  ToolRun put = Ftp(process, "put", "anonymous", "me@example", "up.bin", "down.bin");
  ASSERT_EQ(put.status, 0) << put.out << put.err;
  EXPECT_EQ(ReadFile(root.Path() / "up.bin"), content);
  EXPECT_TRUE(process.WaitForStdout("FTP: Transfer was successful"));
}

// The server's own certificate, made at its first start: pinned, the client gets (active) and puts
// (passive) over TLS.
TEST_F(HarbinexServerClient, TlsWithThePinnedCertificate) {
  HarbinexProcess process(server.Path(), /*expectTftp=*/false, /*expectFtp=*/true);
  std::string error;
  std::optional<std::string> fingerprint =
      tls::CertificateFingerprint((server.Path() / "Harbinex.crt").string(), error);
  ASSERT_TRUE(fingerprint) << error;
  const std::string content = RandomBytes(2'000'000, 5);
  WriteFile(root.Path() / "down.bin", content);

  ToolRun get = Ftp(process, "get", "anonymous", "me@", "down.bin", "down.bin",
                    {"--tls", "--fingerprint", *fingerprint});
  ASSERT_EQ(get.status, 0) << get.out << get.err;
  EXPECT_EQ(ReadFile(client.Path() / "down.bin"), content);
  ToolRun put = Ftp(process, "put", "anonymous", "me@", "up.bin", "down.bin",
                    {"--tls", "--passive", "--fingerprint", *fingerprint});
  ASSERT_EQ(put.status, 0) << put.out << put.err;
  EXPECT_EQ(ReadFile(root.Path() / "up.bin"), content);
  EXPECT_TRUE(process.WaitForStdout("FTP: TLS established (TLSv1.3, "));
}

TEST_F(HarbinexServerClient, ProfileRightsAndPassword) {
  ToolRun add =
      RunHarbinex({"users", "add", "carol", "--password", "pass1234", "--home", root.Path().string(),
                   "--rights", "login,download", "--dir", server.Path().string()});
  ASSERT_EQ(add.status, 0) << add.err;
  HarbinexProcess process(server.Path(), false, true);
  WriteFile(root.Path() / "mine.txt", "carol's file");

  ToolRun get = Ftp(process, "get", "carol", "pass1234", "mine.txt", "mine.txt");
  ASSERT_EQ(get.status, 0) << get.out << get.err;
  EXPECT_EQ(ReadFile(client.Path() / "mine.txt"), "carol's file");

  ToolRun put = Ftp(process, "put", "carol", "pass1234", "new.txt", "mine.txt");
  EXPECT_EQ(put.status, 1);
  EXPECT_EQ(put.err, "harbinex: 532 Need account for storing files\n");
  EXPECT_FALSE(std::filesystem::exists(root.Path() / "new.txt"));

  ToolRun wrong = Ftp(process, "get", "carol", "pass9999", "mine.txt", "other.txt");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err, "harbinex: 530 Login access denied\n");
}

}  // namespace
}  // namespace hx::test
