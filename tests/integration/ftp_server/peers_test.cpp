// Real clients in active mode against the server: curl, Python's ftplib and lftp log in, list, download,
// upload, append and resume.
#include "ftp_test_support.h"

namespace hx::test {
namespace {

class FtpPeersTest : public FtpServerTest {
 protected:
  void SetUp() override {
    // The settings a first start writes: the success reply of a download goes out when it connects.
    StartServer({"General/Quorin=1", "FTP/UserSecurity=1", "FTP/FOverwrite=1"});
    std::filesystem::create_directories(m_dir.Path() / "local");
  }
  std::string Url(const std::string& path = "", const std::string& credentials = "") const {
    return "ftp://" + credentials + "127.0.0.1:" + std::to_string(Port()) + "/" + path;
  }
  std::filesystem::path Local(const std::string& name) const { return m_dir.Path() / "local" / name; }
  int Curl(std::vector<std::string> arguments, std::string& output) {
    arguments.insert(arguments.begin(), {"curl", "-sS", "--max-time", "30", "-P", "127.0.0.1"});
    return RunCommand(arguments, output, 40s);
  }
};

TEST_F(FtpPeersTest, CurlActiveMode) {
  const std::string content = RandomBytes(300000, 1);
  WriteFile(Root() / "data.bin", content);
  std::string output;
  ASSERT_EQ(Curl({Url()}, output), 0) << output;
  EXPECT_NE(output.find("    300000 "), std::string::npos)
      << output;  // curl turns the CR LF of a listing into LF
  EXPECT_NE(output.find(" data.bin\n"), std::string::npos) << output;
  EXPECT_EQ(output.substr(0, 10), ListModeText(Root() / "data.bin"));  // no "." or ".." before it

  ASSERT_EQ(Curl({"-o", Local("down.bin").string(), Url("data.bin")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Local("down.bin")), content);

  const std::string upload = RandomBytes(250000, 2);
  WriteFile(Local("up.bin"), upload);
  ASSERT_EQ(Curl({"-T", Local("up.bin").string(), Url("up.bin")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Root() / "up.bin"), upload);

  WriteFile(Local("more.txt"), "appended");
  ASSERT_EQ(Curl({"--append", "-T", Local("more.txt").string(), Url("up.bin")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Root() / "up.bin"), upload + "appended");

  // Resumed download (REST) and resumed upload (SIZE, then APPE of the rest).
  WriteFile(Local("partial.bin"), content.substr(0, 12345));
  ASSERT_EQ(Curl({"-C", "-", "-o", Local("partial.bin").string(), Url("data.bin")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Local("partial.bin")), content);
  WriteFile(Root() / "resume.bin", content.substr(0, 777));
  WriteFile(Local("whole.bin"), content);
  ASSERT_EQ(Curl({"-C", "-", "-T", Local("whole.bin").string(), Url("resume.bin")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Root() / "resume.bin"), content);

  // A missing file and a path outside the root fail cleanly.
  EXPECT_NE(Curl({"-o", Local("x").string(), Url("missing.bin")}, output), 0);
  EXPECT_NE(Curl({"-o", Local("y").string(), Url("../Harbinex.ini")}, output), 0);
  EXPECT_TRUE(WaitForLogRun({"FTP: Starting GET file transfer of " + RootDir() + "data.bin",
                             "File " + RootDir() + "data.bin Bytes transferred: 300000",
                             "FTP: File Transfer successful"}));
}

TEST_F(FtpPeersTest, CurlAsciiMode) {
  const std::string text = "first line\nsecond line\n\nlast line\n";
  WriteFile(Local("text.txt"), text);
  std::string output;
  // --crlf makes curl send each LF as CR LF, as a client on a CR LF system does; the file gets LF again.
  ASSERT_EQ(Curl({"--use-ascii", "--crlf", "-T", Local("text.txt").string(), Url("text.txt")}, output), 0)
      << output;
  EXPECT_EQ(ReadFile(Root() / "text.txt"), text);
  // curl turns every CR LF (and every bare CR) it receives into LF: the text comes back as it was.
  ASSERT_EQ(Curl({"--use-ascii", "-o", Local("down.txt").string(), Url("text.txt")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Local("down.txt")), text);
}

TEST_F(FtpPeersTest, CurlWithANamedUser) {
  std::filesystem::create_directories(m_dir.Path() / "alice");
  WriteFile(m_dir.Path() / "alice" / "mine.txt", "alice's file");
  AddUser("alice", "wonder1", (m_dir.Path() / "alice").string() + "/", "11100000");
  std::string output;
  ASSERT_EQ(Curl({"-o", Local("mine.txt").string(), Url("mine.txt", "alice:wonder1@")}, output), 0) << output;
  EXPECT_EQ(ReadFile(Local("mine.txt")), "alice's file");
  // curl's code for a refused login.
  EXPECT_EQ(Curl({"-o", Local("no.txt").string(), Url("mine.txt", "alice:wrong12@")}, output), 67) << output;
}

TEST_F(FtpPeersTest, PythonFtplibWithPassiveModeOff) {
  WriteFile(Local("up.bin"), RandomBytes(100000, 3));
  WriteFile(Root() / "served.txt", "line one\nline two\n");
  WriteFile(Root() / "big.bin", "");
  std::filesystem::resize_file(Root() / "big.bin",
                               64 << 20);  // more than the connection holds: ABOR meets it
  const std::string script = R"PY(
import ftplib, io, sys
port, local = int(sys.argv[1]), sys.argv[2]
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', port, timeout=10)
print(ftp.getwelcome())
ftp.login('anonymous', 'py@')
ftp.set_pasv(False)
print('PWD', ftp.pwd())
ftp.cwd('/')
with open(local + '/up.bin', 'rb') as f:
    print(ftp.storbinary('STOR up.bin', f))
print('SIZE', ftp.size('up.bin'))
got = io.BytesIO()
print(ftp.retrbinary('RETR up.bin', got.write))
print('SAME', got.getvalue() == open(local + '/up.bin', 'rb').read())
lines = []
print(ftp.retrlines('RETR served.txt', lines.append))
print('LINES', lines)
print('NLST', sorted(ftp.nlst()))
listing = []
ftp.retrlines('LIST', listing.append)
print('LIST', len(listing))
print(ftp.sendcmd('MDTM up.bin')[:4])
try:
    ftp.sendcmd('DELE up.bin')
except ftplib.error_perm as e:
    print('DELE', e)
conn = ftp.transfercmd('RETR big.bin')
conn.recv(10)
print('ABORT', ftp.abort())
print('THEN', ftp.getresp())
conn.close()
print(ftp.quit())
)PY";
  std::string output;
  ASSERT_EQ(RunCommand(
                {"/usr/bin/python3", "-c", script, std::to_string(Port()), (m_dir.Path() / "local").string()},
                output, 40s),
            0)
      << output;
  const std::string expected[] = {
      "220 Vantrel FTP Server Version 1.1\n",
      "PWD /\n",
      "226 File transfer successful\n",
      "SIZE 100000\n",
      "226 File transfer successful.\n",
      "SAME True\n",
      "LINES ['line one', 'line two']\n",
      "NLST ['big.bin', 'served.txt', 'up.bin']\n",
      "LIST 3\n",
      "213 \n",
      "DELE 550 File unavailable. User profile not allowed to delete files\n",
      // With Quorin on, the success reply came at the connect; ABOR's own reply follows.
      "ABORT 226 File transfer successful.\n",
      "THEN 226 ABORT command successful.\n",
      "221 Service closing control connection\n",
  };
  size_t at = 0;
  for (const std::string& line : expected) {
    size_t found = output.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "in\n" << output;
    if (found != std::string::npos) at = found + line.size();
  }
}

TEST_F(FtpPeersTest, LftpWithPassiveModeOff) {
  std::filesystem::create_directories(m_dir.Path() / "carol");
  AddUser("carol", "secret1", (m_dir.Path() / "carol").string() + "/", "11111111");
  const std::string content = RandomBytes(70000, 4);
  WriteFile(Local("put.bin"), content);
  WriteFile(m_dir.Path() / "carol" / "get.txt", "for lftp");
  const std::string commands =
      "set ftp:passive-mode off; set net:max-retries 1; set net:timeout 10; set cmd:fail-exit yes; "
      "set ssl:verify-certificate no; open -u carol,secret1 " +
      Url() +
      "; "
      "put " +
      Local("put.bin").string() +
      " -o put.bin; "
      "get get.txt -o " +
      Local("got.txt").string() +
      "; "
      "mkdir newdir; cd newdir; pwd; cd ..; rmdir newdir; "
      "mv put.bin moved.bin; cls -1; rm get.txt; cls -1";
  std::string output;
  ASSERT_EQ(RunCommand({"lftp", "-c", commands}, output, 60s), 0) << output;
  EXPECT_EQ(ReadFile(m_dir.Path() / "carol" / "moved.bin"), content);
  EXPECT_EQ(ReadFile(Local("got.txt")), "for lftp");
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "carol" / "get.txt"));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "carol" / "newdir"));
  EXPECT_NE(output.find("/newdir"), std::string::npos) << output;
  EXPECT_NE(output.find("moved.bin"), std::string::npos) << output;
  EXPECT_TRUE(WaitForLog("FTP: carol renamed file " + (m_dir.Path() / "carol").string() + "/put.bin to " +
                         (m_dir.Path() / "carol").string() + "/moved.bin"));
}

}  // namespace
}  // namespace hx::test
