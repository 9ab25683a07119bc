// The TFTP service against packets that no ordinary client sends: malformed and unusual requests, strangers
// in a transfer, short and oversized datagrams and lost ACKs (a client that falls silent: in_process_test).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server_fixture.h"

namespace hx::test {
namespace {

class RawPackets : public TftpServerFixture {};

TEST_F(RawPackets, MalformedRequestsGetTheirErrorFromANewPort) {
  Start();
  struct Case {
    Bytes request;
    std::uint16_t code;
    std::string text;
  };
  Bytes noZero = {0, 1, 'a', 'b', 'c'};
  Bytes noModeZero = {0, 2, 'a', 0, 'o', 'c', 't'};
  const Case cases[] = {
      {noZero, 4, "Malformed name in PUT request"},
      {noModeZero, 4, "Malformed name in PUT request"},
      {Request(1, "a", "mail"), 4, "Unknown transfer mode : mail"},
      {Request(1, "a", "MAIL"), 4, "Unknown transfer mode : mail"},
      {Request(1, "a\\..\\b", "octet"), 2, "Access denied for this directory"},
      {Request(2, "a|b", "netascii"), 0, "Bad characters in filename. Aborting transfer"},
      {Request(2, "a\r\nb", "octet"), 0, "Illegal file name"},
      {Request(1, "missing", "NetAscii"), 1, "File was not found. Aborting transfer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    UdpPeer peer;
    peer.SendTo(Port(), c.request);
    auto reply = peer.Receive();
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->port, Port());
    EXPECT_EQ(OpcodeOf(*reply), 5);
    EXPECT_EQ(NumberOf(*reply), c.code);
    EXPECT_EQ(ErrorText(*reply), c.text);
    EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(0)));
  }
}

TEST_F(RawPackets, VeryLongModeIsCutToFitTheErrorPacket) {
  Start();
  UdpPeer peer;
  peer.SendTo(Port(), Request(1, "a", std::string(505, 'm')));  // 516 bytes in all
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.size(), 516u);
  EXPECT_EQ(ErrorText(*reply), ("Unknown transfer mode : " + std::string(505, 'm')).substr(0, 511));
}

TEST_F(RawPackets, RequestLongerThanABlockIsReadWhole) {
  Start();
  UdpPeer peer;
  // Options may make a request longer than any block: it is taken whole, and what it does not know is
  // ignored.
  std::string name(200, 'f');  // short enough for the directory in front of it
  WriteFile(Dl() / name, "full");
  Bytes request = Request(1, name, "octet");
  std::string options(2000, 'o');
  request.insert(request.end(), options.begin(), options.end());
  request.push_back(0);
  request.push_back('1');
  request.push_back(0);
  peer.SendTo(Port(), request);
  auto data = peer.Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(OpcodeOf(*data), 3);
  EXPECT_EQ(PayloadOf(*data), "full");
  peer.SendTo(data->port, Ack(1));
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 4\r\n"));
  EXPECT_EQ(Count(LogFile(), "TFTP: Connection from address"), 1u);
}

TEST_F(RawPackets, LineBreakInANameCannotForgeALogLine) {
  Start();
  WriteFile(Dl() / "a\nSTARTING fake", "x");
  UdpPeer peer;
  peer.SendTo(Port(), Request(1, "a\nSTARTING fake", "octet"));
  auto data = peer.Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(PayloadOf(*data), "x");
  peer.SendTo(data->port, Ack(1));
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 1\r\n"));
  // One line in the file and one on the console, each with the line break escaped.
  std::string log = LogFile();
  EXPECT_NE(log.find("TFTP: GET " + DlDir() + "a\\x0aSTARTING fake\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nSTARTING"), std::string::npos) << log;
  EXPECT_TRUE(program->WaitForStdout("TFTP: GET " + DlDir() + "a\\x0aSTARTING fake\n"));
  EXPECT_EQ(program->Stdout().find("\nSTARTING"), std::string::npos);
}

TEST_F(RawPackets, StrangersAreToldUnknownTransferIdAndTheTransferGoesOn) {
  Start();
  WriteFile(Dl() / "t.bin", std::string(700, 't'));
  UdpPeer client;
  UdpPeer stranger;
  client.SendTo(Port(), Request(1, "t.bin", "octet"));
  auto data1 = client.Receive();
  ASSERT_TRUE(data1);
  ASSERT_EQ(NumberOf(*data1), 1);

  stranger.SendTo(data1->port, Ack(1));
  auto told = stranger.Receive();
  ASSERT_TRUE(told);
  EXPECT_EQ(OpcodeOf(*told), 5);
  EXPECT_EQ(NumberOf(*told), 5);
  EXPECT_EQ(ErrorText(*told), "Unknown transfer ID");
  EXPECT_EQ(told->port, data1->port);
  EXPECT_FALSE(client.Receive(std::chrono::milliseconds(100)));  // the stranger's ACK moved nothing

  client.SendTo(data1->port, Ack(1));
  auto data2 = client.Receive();
  ASSERT_TRUE(data2);
  EXPECT_EQ(NumberOf(*data2), 2);
  EXPECT_EQ(PayloadOf(*data2), std::string(188, 't'));
  client.SendTo(data1->port, Ack(2));
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 700\r\n"));
}

TEST_F(RawPackets, ShortDatagramInATransferIsAnUnknownPacket) {
  Start();
  WriteFile(Dl() / "s.bin", std::string(1000, 's'));
  UdpPeer client;
  client.SendTo(Port(), Request(1, "s.bin", "octet"));
  auto data1 = client.Receive();
  ASSERT_TRUE(data1);
  client.SendTo(data1->port, {0, 4, 0});
  auto reply = client.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(OpcodeOf(*reply), 5);
  EXPECT_EQ(NumberOf(*reply), 0);
  EXPECT_EQ(ErrorText(*reply), "Unknown packet received. Aborting!");
  EXPECT_TRUE(WaitForLog("TFTP: ERROR. Unknown packet received. Aborting!\r\n"));

  // On the receiving side nothing of it reaches the file.
  UdpPeer uploader;
  uploader.SendTo(Port(), Request(2, "short.bin", "octet"));
  auto ack0 = uploader.Receive();
  ASSERT_TRUE(ack0);
  uploader.SendTo(ack0->port, {0, 3});
  reply = uploader.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(ErrorText(*reply), "Unknown packet type. Aborting");
  EXPECT_EQ(ReadFile(Dl() / "short.bin"), "");
}

TEST_F(RawPackets, LostFinalAckIsRepeatedAndTheFileIsFreeAtOnce) {
  Start();
  UdpPeer uploader;
  uploader.SendTo(Port(), Request(2, "final.bin", "octet"));
  auto ack0 = uploader.Receive();
  ASSERT_TRUE(ack0);
  uploader.SendTo(ack0->port, Data(1, "last and only"));
  auto ack1 = uploader.Receive();
  ASSERT_TRUE(ack1);
  EXPECT_EQ(NumberOf(*ack1), 1);
  EXPECT_TRUE(WaitForLog("TFTP: Successful. Total bytes transferred: 13\r\n"));

  // Success is already logged and the file released: another client can read it at once.
  EXPECT_EQ(TftpClient({"get", "final.bin", "final.bin"}), "");
  EXPECT_EQ(ReadFile(Work() / "final.bin"), "last and only");

  // The uploader pretends its ACK was lost and sends the final block again: it is acknowledged again.
  uploader.SendTo(ack0->port, Data(1, "last and only"));
  auto again = uploader.Receive();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->bytes, Ack(1));
  EXPECT_EQ(ReadFile(Dl() / "final.bin"), "last and only");
  // The upload and the get; the get's line follows the client's last ACK, which may arrive after it exits.
  EXPECT_TRUE(
      WaitUntil([&] { return Count(LogFile(), "TFTP: Successful. Total bytes transferred: 13") == 2u; }));
}

// An upload over an existing file goes to a file beside it, which takes the old one's place only when the
// transfer succeeds: cut off by the client, or unable to take that place, it leaves the old file whole and
// nothing beside it.
TEST_F(RawPackets, OverwritingUploadReplacesTheFileOnlyWhenItSucceeds) {
  Start({"TFTP/TOverWriteFiles=1"});
  const std::filesystem::path target = Dl() / "img.bin";
  const std::string old = Content(1000, 7);
  WriteFile(target, old);
  std::filesystem::permissions(target, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(Dl()))
      found.push_back(entry.path().filename());
    return found;
  };
  // Starts an upload of img.bin and sends its first block; the session's port, or 0 when refused (the file
  // is still claimed by the session before).
  auto begin = [&](UdpPeer& client) -> std::uint16_t {
    client.SendTo(Port(), Request(2, "img.bin", "octet"));
    auto ack0 = client.Receive();
    if (!ack0 || OpcodeOf(*ack0) != 4) return 0;
    client.SendTo(ack0->port, Data(1, std::string(512, 'n')));
    auto ack1 = client.Receive();
    EXPECT_TRUE(ack1 && OpcodeOf(*ack1) == 4 && NumberOf(*ack1) == 1);
    return ack0->port;
  };
  auto next = [&](std::unique_ptr<UdpPeer>& client) {
    std::uint16_t port = 0;
    EXPECT_TRUE(WaitUntil([&] {
      client = std::make_unique<UdpPeer>();
      return (port = begin(*client)) != 0;
    }));
    return port;
  };

  // The client gives up after a block.
  std::unique_ptr<UdpPeer> client;
  std::uint16_t port = next(client);
  ASSERT_NE(port, 0);
  EXPECT_EQ(ReadFile(target), old);
  client->SendTo(port, {0, 5, 0, 0, 'b', 'y', 'e', 0});

  // The old file cannot take the new one's place (a directory took its name meanwhile).
  port = next(client);
  ASSERT_NE(port, 0);
  std::filesystem::rename(target, Dl() / "kept.bin");
  std::filesystem::create_directory(target);
  client->SendTo(port, Data(2, "tail"));
  auto failed = client->Receive();
  ASSERT_TRUE(failed);
  EXPECT_EQ(OpcodeOf(*failed), 5);
  EXPECT_EQ(NumberOf(*failed), 3);
  EXPECT_EQ(ErrorText(*failed), "Disk full or allocation exceeded");
  EXPECT_TRUE(WaitForLog("TFTP: ERROR. Disk full or allocation exceeded\r\n"));
  EXPECT_TRUE(std::filesystem::is_directory(target));
  std::filesystem::remove(target);
  std::filesystem::rename(Dl() / "kept.bin", target);
  EXPECT_EQ(ReadFile(target), old);
  EXPECT_EQ(names(), std::vector<std::string>{"img.bin"});

  // A complete upload replaces the file whole and keeps its permissions.
  port = next(client);
  ASSERT_NE(port, 0);
  client->SendTo(port, Data(2, "tail"));
  auto last = client->Receive();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->bytes, Ack(2));
  EXPECT_EQ(ReadFile(target), std::string(512, 'n') + "tail");
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
  EXPECT_EQ(names(), std::vector<std::string>{"img.bin"});
}

TEST_F(RawPackets, FailedDirectoryCreationSendsTwoErrors) {
  Start({"TFTP/TMakeNewDirs=1"});
  WriteFile(Dl() / "plain", "x");
  UdpPeer client;
  client.SendTo(Port(), Request(2, "plain/sub/f.bin", "octet"));
  auto first = client.Receive();
  auto second = client.Receive();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(NumberOf(*first), 0);
  EXPECT_EQ(ErrorText(*first), DlDir() + "plain is not a directory!");
  EXPECT_EQ(NumberOf(*second), 2);
  EXPECT_EQ(ErrorText(*second), "Unable to access file. Aborting");
  EXPECT_TRUE(WaitForLog("TFTP: ERROR. Unable to access file. Aborting\r\n"));
}

TEST_F(RawPackets, MissingDirectorySettingIsRefusedAndShown) {
  Start({"TFTP/TDLDir="});
  UdpPeer client;
  client.SendTo(Port(), Request(1, "a.bin", "octet"));
  auto reply = client.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(NumberOf(*reply), 0);
  EXPECT_EQ(ErrorText(*reply), "Problem accessing upload/download directory");
  EXPECT_TRUE(program->WaitForStderr(
      "harbinex: TFTP:Could not determine upload/download directory!\nAborting transfer!\n"));
  EXPECT_TRUE(WaitForLog("TFTP: ERROR. Problem accessing upload/download directory\r\n"));
}

TEST_F(RawPackets, LinksOutOfTheDirectoryLeadNowhere) {
  Start({"TFTP/TMakeNewDirs=1", "TFTP/TOverWriteFiles=1"});
  WriteFile(dir.Path() / "outside" / "secret", "secret");
  std::filesystem::create_symlink(dir.Path() / "outside" / "secret", Dl() / "file-out");
  std::filesystem::create_symlink(dir.Path() / "outside", Dl() / "dir-out");
  std::filesystem::create_symlink(dir.Path() / "outside" / "new", Dl() / "dangling-out");
  struct Case {
    std::uint16_t opcode;
    const char* name;
  };
  for (const Case& c : {Case{1, "file-out"}, Case{1, "dir-out/secret"}, Case{2, "file-out"},
                        Case{2, "dir-out/secret"}, Case{2, "dangling-out"}, Case{2, "dir-out/sub/new"}}) {
    SCOPED_TRACE(c.name);
    UdpPeer client;
    client.SendTo(Port(), Request(c.opcode, c.name, "octet"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(OpcodeOf(*reply), 5);  // an error, never a block of the file or an ACK
    if (std::string(c.name) != "dir-out/sub/new") {
      EXPECT_EQ(NumberOf(*reply), 2);
      EXPECT_EQ(ErrorText(*reply), "File access error");
    }
  }
  EXPECT_EQ(ReadFile(dir.Path() / "outside" / "secret"), "secret");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "outside" / "new"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "outside" / "sub"));
}

}  // namespace
}  // namespace hx::test
