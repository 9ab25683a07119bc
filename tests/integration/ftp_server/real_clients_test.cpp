// Everyday clients with their default settings (passive mode, binary after SYST) against the server, over
// IPv4 and IPv6: each lists, downloads and uploads where it can, byte for byte.
#include <fcntl.h>
#include <sys/stat.h>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

class RealClientsTest : public FtpServerTest, public testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    StartServer({"FTP/UserSecurity=0"});
    std::filesystem::create_directories(Local());
    WriteFile(Root() / "image.bin", kImage);
    WriteFile(Root() / "sub" / "deeper" / "leaf.txt", "leaf\n");
    WriteFile(Root() / "sub" / "mid.bin", RandomBytes(5000, 2));
    WriteFile(Local() / "up.bin", kUpload);
  }
  // The host as URLs and command lines write it.
  std::string Host() const { return GetParam() == "::1" ? "[::1]" : GetParam(); }
  std::string Url(const std::string& path = "") const {
    return "ftp://" + Host() + ":" + std::to_string(Port()) + "/" + path;
  }
  std::filesystem::path Local() const { return m_dir.Path() / "local"; }
  std::string Run(const std::vector<std::string>& argv, const std::string& input = {}) {
    std::string output;
    int status = RunCommand(argv, output, 60s, input, Local());
    EXPECT_EQ(status, 0) << argv[0] << ":\n" << output;
    return output;
  }
  void ExpectUploaded(const std::string& name = "up.bin") {
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(Root() / name); }));
    EXPECT_EQ(ReadFile(Root() / name), kUpload);
  }

  const std::string kImage = RandomBytes(300000, 1);
  const std::string kUpload = RandomBytes(120000, 3);
};

TEST_P(RealClientsTest, Curl) {
  std::string listing = Run({"curl", "-sS", "-g", "--max-time", "30", Url()});
  EXPECT_NE(listing.find(" image.bin\n"), std::string::npos) << listing;
  std::string trace =
      Run({"curl", "-sS", "-v", "-g", "--max-time", "30", "-o", "image.bin", Url("image.bin")});
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
  // EPSV is what curl tries first, in both families.
  EXPECT_NE(trace.find("< 229 Entering Extended Passive Mode (|||"), std::string::npos) << trace;
  Run({"curl", "-sS", "-g", "--max-time", "30", "-T", "up.bin", Url("up.bin")});
  ExpectUploaded();
}

TEST_P(RealClientsTest, Wget) {
  Run({"wget", "-q", "-t", "1", "-T", "20", "-O", "listing.html", Url()});
  EXPECT_NE(ReadFile(Local() / "listing.html").find("image.bin"), std::string::npos);
  Run({"wget", "-q", "-t", "1", "-T", "20", "-O", "image.bin", Url("image.bin")});
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
}

TEST_P(RealClientsTest, PythonFtplib) {
  // nlst() names no "." or "..", which a loop over its names would fetch; mlsd() walks the tree, and each
  // entry's facts agree with what the system says of its file.
  const std::string script = R"PY(
import calendar, ftplib, io, os, stat, sys, time
ftp = ftplib.FTP()
ftp.connect(sys.argv[1], int(sys.argv[2]), timeout=10)
root = sys.argv[3]
ftp.login()
print('NLST', sorted(ftp.nlst()))
def check(path, facts):
    st = os.stat(os.path.join(root, path))
    whole, _, fraction = facts['modify'].partition('.')
    when = calendar.timegm(time.strptime(whole, '%Y%m%d%H%M%S'))
    when += int(fraction) / 10 ** len(fraction) if fraction else 0
    if abs(when - st.st_mtime) >= 0.001: print('MODIFY', path, facts['modify'], st.st_mtime)
    if facts['unique'] != '%xU%x' % (st.st_dev, st.st_ino): print('UNIQUE', path, facts['unique'])
    if (facts['type'] == 'dir') != stat.S_ISDIR(st.st_mode): print('TYPE', path, facts['type'])
    if facts['type'] == 'file' and int(facts['size']) != st.st_size: print('SIZE', path, facts['size'])
seen = []
def walk(path):
    for name, facts in ftp.mlsd(path):
        if facts['type'] in ('cdir', 'pdir'): continue
        full = path + '/' + name if path else name
        check(full, facts)
        seen.append(facts['type'] + ' ' + full + ' ' + facts['perm'])
        if facts['type'] == 'dir': walk(full)
walk('')
print('WALK', sorted(seen))
got = io.BytesIO()
ftp.retrbinary('RETR image.bin', got.write)
open('image.bin', 'wb').write(got.getvalue())
with open('up.bin', 'rb') as f:
    ftp.storbinary('STOR up.bin', f)
print(ftp.quit())
)PY";
  struct timespec times[2] = {{1592222400, 123456789}, {1592222400, 123456789}};  // 2020, with a fraction
  ASSERT_EQ(::utimensat(AT_FDCWD, (Root() / "sub" / "mid.bin").c_str(), times, 0), 0);
  std::string output = Run({"python3", "-c", script, GetParam(), std::to_string(Port()), Root().string()});
  EXPECT_NE(output.find("NLST ['image.bin', 'sub']\n"), std::string::npos) << output;
  EXPECT_NE(output.find("WALK ['dir sub cdeflmp', 'dir sub/deeper cdeflmp', 'file image.bin adfrw', "
                        "'file sub/deeper/leaf.txt adfrw', 'file sub/mid.bin adfrw']\n"),
            std::string::npos)
      << output;
  for (const char* mismatch : {"MODIFY", "UNIQUE", "TYPE", "SIZE"})
    EXPECT_EQ(output.find(mismatch), std::string::npos) << output;
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
  ExpectUploaded();
}

TEST_P(RealClientsTest, BusyboxFtpgetAndFtpput) {
  std::string port = std::to_string(Port());
  Run({"busybox", "ftpget", "-P", port, GetParam(), "image.bin", "image.bin"});
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
  Run({"busybox", "ftpput", "-P", port, GetParam(), "up.bin", "up.bin"});
  ExpectUploaded();
}

TEST_P(RealClientsTest, LftpMirrorsATree) {
  Run({"lftp", "-c",
       "set net:max-retries 1; set net:timeout 10; set cmd:fail-exit yes; open " + Url() +
           "; mirror / tree; put up.bin -o up.bin"});
  EXPECT_EQ(ReadFile(Local() / "tree" / "image.bin"), kImage);
  EXPECT_EQ(ReadFile(Local() / "tree" / "sub" / "mid.bin"), RandomBytes(5000, 2));
  EXPECT_EQ(ReadFile(Local() / "tree" / "sub" / "deeper" / "leaf.txt"), "leaf\n");
  // The listing's modes are taken over: a mirrored file is readable.
  EXPECT_NE(std::filesystem::status(Local() / "tree" / "image.bin").permissions() &
                std::filesystem::perms::owner_read,
            std::filesystem::perms::none);
  ExpectUploaded();
}

TEST_P(RealClientsTest, Tnftp) {
  std::string output =
      Run({"tnftp", "-n", "-v"}, "open " + GetParam() + " " + std::to_string(Port()) +
                                     "\nuser anonymous tnftp@\nls\nget image.bin\nput up.bin\nquit\n");
  EXPECT_NE(output.find(" image.bin"), std::string::npos) << output;
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);  // binary, since SYST names a Unix system
  ExpectUploaded();
}

INSTANTIATE_TEST_SUITE_P(Hosts, RealClientsTest, testing::Values("127.0.0.1", "::1"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param == "::1" ? "IPv6" : "IPv4";
                         });

}  // namespace
}  // namespace hx::test
