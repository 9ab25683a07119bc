#include "tftp/netascii_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace hx::tftp {
namespace {

using namespace std::string_literals;

// A file in memory, read and written as the engine does through a TransferFile.
class MemoryFile : public TransferFile {
 public:
  MemoryFile(std::string content, std::string* written) : m_content(std::move(content)), m_written(written) {}
  long Read(std::uint8_t* buffer, size_t size) override {
    size_t n = std::min(size, m_content.size() - m_pos);
    std::memcpy(buffer, m_content.data() + m_pos, n);
    m_pos += n;
    return static_cast<long>(n);
  }
  bool Write(const std::uint8_t* data, size_t size) override {
    m_written->append(reinterpret_cast<const char*>(data), size);
    return true;
  }

 private:
  std::string m_content;
  size_t m_pos = 0;
  std::string* m_written;
};

// The blocks a sending engine takes from a netascii file of `content`: 512 bytes each, the last shorter.
std::vector<std::string> SendBlocks(const std::string& content) {
  std::string unused;
  auto file = NetasciiFile(std::make_unique<MemoryFile>(content, &unused), Side::Sending);
  std::vector<std::string> blocks;
  for (int i = 0; i < 100; ++i) {
    std::uint8_t block[512];
    long count = file->Read(block, sizeof block);
    EXPECT_GE(count, 0);
    blocks.emplace_back(reinterpret_cast<const char*>(block), static_cast<size_t>(std::max(count, 0L)));
    if (count < 512) break;
  }
  return blocks;
}

// What a receiving netascii file stores from `blocks`, once the transfer has closed it.
std::string Receive(const std::vector<std::string>& blocks) {
  std::string written;
  {
    auto file = NetasciiFile(std::make_unique<MemoryFile>("", &written), Side::Receiving);
    for (const std::string& block : blocks)
      EXPECT_TRUE(file->Write(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()));
  }
  return written;
}

TEST(NetasciiFile, SendsFullBlocksWithPairsAcrossTheirBoundary) {
  // The LF at 511 becomes CR LF at 511-512, the CR at 1022 CR NUL at 1023-1024: both pairs straddle a block
  // end.
  std::string content(1100, 'x');
  content[511] = '\n';
  content[1022] = '\r';
  std::vector<std::string> blocks = SendBlocks(content);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].size(), 512u);
  EXPECT_EQ(blocks[0].back(), '\r');
  EXPECT_EQ(blocks[1].front(), '\n');
  EXPECT_EQ(blocks[1].size(), 512u);
  EXPECT_EQ(blocks[1].back(), '\r');
  EXPECT_EQ(blocks[2], "\0"s + std::string(77, 'x'));
}

TEST(NetasciiFile, TextEndingOnABlockBoundaryEndsWithAnEmptyBlock) {
  // 511 bytes and a LF are 512 on the wire: the engine needs the empty block that follows.
  std::vector<std::string> blocks = SendBlocks(std::string(511, 'a') + "\n");
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], std::string(511, 'a') + "\r");
  EXPECT_EQ(blocks[1], "\n");
  EXPECT_EQ(SendBlocks(std::string(510, 'a') + "\n").size(), 2u);  // exactly 512 on the wire
  EXPECT_EQ(SendBlocks(std::string(510, 'a') + "\n")[1], "");
}

TEST(NetasciiFile, ReceivesPairsSplitByBlocks) {
  EXPECT_EQ(Receive({"a\r", "\nb\r", "\0c"s}), "a\nb\rc");
  EXPECT_EQ(Receive({"a\r", ""}), "a\r");  // a bare CR at the very end is kept
  EXPECT_EQ(Receive({"\r\0\r\n"s}), "\r\n");
}

TEST(NetasciiFile, SentTextComesBackUnchanged) {
  std::string content;
  for (int i = 0; i < 2000; ++i) content += (i % 3 == 0) ? "line\n" : (i % 3 == 1 ? "cr\r" : "\r\n");
  EXPECT_EQ(Receive(SendBlocks(content)), content);
}

}  // namespace
}  // namespace hx::tftp
