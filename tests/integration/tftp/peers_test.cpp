// The TFTP service with real clients: the tftp-hpa client and curl download and upload through it, and its
// refusals reach them as ERROR packets with their codes and texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "server_fixture.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;

std::string Success(size_t total) {
  return "TFTP: Successful. Total bytes transferred: " + std::to_string(total);
}

class Peers : public TftpServerFixture {};

TEST_F(Peers, TftpHpaDownloadsAndUploadsByteForByte) {
  Start({"TFTP/TOverWriteFiles=0"});
  // Sizes around the block boundaries: empty, one short block, exactly two blocks, and many blocks.
  const size_t sizes[] = {0, 100, 1024, 150'000};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string name = "down" + std::to_string(size) + ".bin";
    std::string content = Content(size, static_cast<unsigned>(size));
    WriteFile(Dl() / name, content);
    std::string output = TftpClient({"get", name, name});
    EXPECT_EQ(output, "");
    EXPECT_EQ(ReadFile(Work() / name), content);
    EXPECT_TRUE(WaitForLog("TFTP: GET " + DlDir() + name + "\r\n"));

    std::string up = "up" + std::to_string(size) + ".bin";
    output = TftpClient({"put", name, up});
    EXPECT_EQ(output, "");
    EXPECT_TRUE(WaitForLog("TFTP: PUT " + DlDir() + up + "\r\n"));
    EXPECT_EQ(ReadFile(Dl() / up), content);
  }
  // Every transfer's lines in the log file, with a time stamp, one connection line each.
  std::string log = LogFile();
  size_t connections = 0;
  for (size_t at = 0;
       (at = log.find(" TFTP: Connection from address 127.0.0.1\r\n", at)) != std::string::npos; ++at)
    ++connections;
  EXPECT_EQ(connections, 8u);
  EXPECT_TRUE(WaitForLog(Success(150'000) + "\r\n"));
  EXPECT_TRUE(WaitForLog(Success(0) + "\r\n"));
  EXPECT_TRUE(program->WaitForStdout(Success(1024)));  // headless also prints the log
}

TEST_F(Peers, TftpHpaNetasciiGivesTheSameTextBack) {
  Start({"TFTP/TOverWriteFiles=0"});
  // Lines of many lengths, so that CR LF and CR NUL pairs fall across block boundaries; the CR LF and the
  // bare CR of the file come back only when both sides convert.
  std::string text;
  size_t lineEnds = 0;
  size_t crs = 0;
  for (int i = 0; i < 3000; ++i) {
    text += "line " + std::to_string(i * 37 % 1000);
    if (i % 7 == 0) {
      text += "\r\n";
      ++crs;
    } else if (i % 11 == 0) {
      text += " bare\rcr\n";
      ++crs;
    } else {
      text += "\n";
    }
    ++lineEnds;
  }
  WriteFile(Dl() / "text.txt", text);
  EXPECT_EQ(TftpClient({"get", "text.txt", "text.txt"}, "netascii"), "");
  EXPECT_EQ(ReadFile(Work() / "text.txt"), text);
  // The total counts what travelled: every LF and every CR one byte more.
  EXPECT_TRUE(WaitForLog(Success(text.size() + lineEnds + crs) + "\r\n"));

  EXPECT_EQ(TftpClient({"put", "text.txt", "back.txt"}, "netascii"), "");
  EXPECT_TRUE(WaitForLog("TFTP: PUT " + DlDir() + "back.txt\r\n"));
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(Dl() / "back.txt") == text; }));
}

TEST_F(Peers, CurlDownloadsAndUploadsByteForByte) {
  Start();
  std::string content = Content(70'000, 7);
  WriteFile(Dl() / "c.bin", content);
  // curl asks for options (blksize 512, tsize); the service answers them in an OACK.
  EXPECT_EQ(Curl({"-o", "c.bin", Url("c.bin")}), 0);
  EXPECT_EQ(ReadFile(Work() / "c.bin"), content);
  EXPECT_EQ(Curl({"-T", "c.bin", Url("sub/c2.bin")}), 0);  // TMakeNewDirs is 1 by default
  EXPECT_EQ(ReadFile(Dl() / "sub" / "c2.bin"), content);
  EXPECT_TRUE(WaitForLog("TFTP: PUT " + DlDir() + "sub/c2.bin\r\n"));
  EXPECT_TRUE(WaitForLog(Success(70'000) + " (blksize 512"));
}

TEST_F(Peers, RefusalsReachTftpHpaWithCodeAndText) {
  Start({"TFTP/TOverWriteFiles=0", "TFTP/TMakeNewDirs=0"});
  WriteFile(Dl() / "exists.bin", "old");
  WriteFile(Work() / "local.bin", "new");
  fs::create_directories(Dl() / "adir");
  struct Case {
    std::vector<std::string> command;
    std::string mode;
    std::string expected;
  };
  const Case cases[] = {
      {{"get", "missing.bin", "x"}, "octet", "Error code 1: File was not found. Aborting transfer"},
      {{"get", "../etc/passwd", "x"}, "octet", "Error code 2: Access denied for this directory"},
      {{"get", "a..b", "x"}, "octet", "Error code 2: Access denied for this directory"},
      {{"get", "a*b", "x"}, "octet", "Error code 0: Bad characters in filename. Aborting transfer"},
      {{"get", "adir", "x"}, "octet", "Error code 0: Cannot GET a directory!"},
      {{"get", std::string(300, 'n'), "x"}, "octet", "Error code 0: Filename exceeds maximum allowable path"},
      {{"put", "local.bin", "exists.bin"},
       "octet",
       "Error code 6: User asked to overwrite an existing file! Access denied!"},
      {{"put", "local.bin", "adir"},
       "octet",
       "Error code 0: User asked for a volume, directory, system or read-only file! Access denied!"},
      {{"put", "local.bin", "new/f.bin"}, "octet", "Error code 0: Not allowed to create directories!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string output = TftpClient(c.command, c.mode);
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
    EXPECT_TRUE(WaitForLog("TFTP: ERROR. " + c.expected.substr(c.expected.find(": ") + 2) + "\r\n"));
  }
  EXPECT_EQ(ReadFile(Dl() / "exists.bin"), "old");
  EXPECT_FALSE(fs::exists(Dl() / "new"));
  EXPECT_FALSE(fs::exists(Work() / "x") && fs::file_size(Work() / "x") > 0);
}

TEST_F(Peers, RefusalsReachCurlAsItsTftpErrors) {
  Start({"TFTP/TOverWriteFiles=0"});
  WriteFile(Dl() / "exists.bin", "old");
  WriteFile(Work() / "local.bin", "new");
  // curl turns the ERROR code into its exit status: 1 -> 68, 2 -> 69, 6 (file exists) -> 73, 0 and 4 -> 71.
  EXPECT_EQ(Curl({"-o", "x", Url("missing.bin")}), 68);
  EXPECT_EQ(Curl({"--path-as-is", "-o", "x", Url("../x")}), 69);
  EXPECT_EQ(Curl({"-T", "local.bin", Url("exists.bin")}), 73);
  EXPECT_TRUE(WaitForLog("TFTP: ERROR. User asked to overwrite an existing file! Access denied!\r\n"));
  EXPECT_EQ(ReadFile(Dl() / "exists.bin"), "old");
}

TEST_F(Peers, ReadOfAFileBeingReceivedIsAFileAccessError) {
  Start();
  // A raw client starts an upload and holds it after the first block.
  UdpPeer uploader;
  uploader.SendTo(Port(), Request(2, "busy.bin", "octet"));
  auto ack0 = uploader.Receive();
  ASSERT_TRUE(ack0);
  ASSERT_EQ(OpcodeOf(*ack0), 4);
  uploader.SendTo(ack0->port, Data(1, std::string(512, 'b')));
  auto ack1 = uploader.Receive();
  ASSERT_TRUE(ack1);
  ASSERT_EQ(NumberOf(*ack1), 1);

  std::string output = TftpClient({"get", "busy.bin", "busy.bin"});
  EXPECT_NE(output.find("Error code 2: File access error"), std::string::npos) << output;

  // Once the upload has ended, the file is there to read.
  uploader.SendTo(ack0->port, Data(2, "end"));
  auto ack2 = uploader.Receive();
  ASSERT_TRUE(ack2);
  EXPECT_EQ(NumberOf(*ack2), 2);
  EXPECT_EQ(TftpClient({"get", "busy.bin", "busy.bin"}), "");
  EXPECT_EQ(ReadFile(Work() / "busy.bin"), std::string(512, 'b') + "end");
}

}  // namespace
}  // namespace hx::test
