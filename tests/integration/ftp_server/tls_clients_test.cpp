// FTPS clients with their own TLS stacks against the server: curl (passive, explicit and implicit), Python's
// ftplib with and without resuming the control session on its data connections, and lftp in active mode.
#include <unistd.h>

#include "ftp_test_support.h"

namespace hx::test {
namespace {

class TlsClientsTest : public FtpServerTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(Local());
    WriteFile(Local() / "up.bin", kUpload);
  }
  // Starts the server with an implicit TLS port of the test's choice: a port that turns out to be taken is
  // logged by the server, and the next one is tried.
  void StartWithImplicitPort(const std::vector<std::string>& extraIni = {}) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      m_implicitPort = static_cast<std::uint16_t>(20000 + (::getpid() * 31 + attempt * 4099) % 30000);
      std::vector<std::string> ini = {"FTP/UserSecurity=0",
                                      "FTP/FImplicitPort=" + std::to_string(m_implicitPort)};
      ini.insert(ini.end(), extraIni.begin(), extraIni.end());
      StartServer(ini);
      WriteFile(Root() / "image.bin", kImage);
      auto entries = LogEntries();
      if (std::none_of(entries.begin(), entries.end(),
                       [](const std::string& e) { return e.starts_with("FTP: Implicit TLS is off"); }))
        return;
      TearDown();
    }
    FAIL() << "no free implicit port";
  }
  std::filesystem::path Local() const { return m_dir.Path() / "local"; }
  std::string Url(const std::string& scheme, std::uint16_t port, const std::string& path) const {
    return scheme + "://127.0.0.1:" + std::to_string(port) + "/" + path;
  }
  std::string Run(const std::vector<std::string>& argv, int expected = 0) {
    std::string output;
    EXPECT_EQ(RunCommand(argv, output, 60s, {}, Local()), expected) << argv[0] << ":\n" << output;
    return output;
  }
  void ExpectUploaded(const std::string& name) {
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(Root() / name); }));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(Root() / name) == kUpload; })) << name;
  }

  std::uint16_t m_implicitPort = 0;
  const std::string kImage = RandomBytes(3000000, 1);
  const std::string kUpload = RandomBytes(1200000, 3);
};

TEST_F(TlsClientsTest, CurlExplicitAndImplicit) {
  StartWithImplicitPort();
  std::vector<std::string> curl = {"curl", "-sS", "-k", "--max-time", "30"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> argv = curl;
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
  };
  Run(with({"--ssl-reqd", "-o", "image.bin", Url("ftp", Port(), "image.bin")}));
  EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
  Run(with({"--ssl-reqd", "-T", "up.bin", Url("ftp", Port(), "up.bin")}));
  ExpectUploaded("up.bin");
  Run(with({"-o", "implicit.bin", Url("ftps", m_implicitPort, "image.bin")}));
  EXPECT_EQ(ReadFile(Local() / "implicit.bin"), kImage);
  auto entries = LogEntries();
  EXPECT_EQ(
      std::count_if(entries.begin(), entries.end(),
                    [](const std::string& e) { return e.starts_with("FTP: TLS established (TLSv1.3, "); }),
      3);
}

// ftplib's FTP_TLS does not resume its control session on data connections; a subclass that passes the
// session does. Active and passive mode alike.
TEST_F(TlsClientsTest, PythonFtplibWithAndWithoutResumption) {
  const std::string script = R"PY(
import ftplib, io, ssl, sys
class Resuming(ftplib.FTP_TLS):
    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size
context = ssl.create_default_context()
context.check_hostname = False
context.verify_mode = ssl.CERT_NONE
ftp = (Resuming if sys.argv[2] == 'resume' else ftplib.FTP_TLS)(context=context)
ftp.connect('127.0.0.1', int(sys.argv[1]), timeout=10)
ftp.login()
ftp.prot_p()
ftp.set_pasv(sys.argv[3] == 'passive')
try:
    print('NLST', sorted(ftp.nlst()))
    got = io.BytesIO()
    ftp.retrbinary('RETR image.bin', got.write)
    open('image.bin', 'wb').write(got.getvalue())
    with open('up.bin', 'rb') as f:
        ftp.storbinary('STOR ' + sys.argv[4], f)
except ftplib.Error as e:
    print('REFUSED', e)
print(ftp.quit())
)PY";
  StartServer({"FTP/UserSecurity=0"});
  WriteFile(Root() / "image.bin", kImage);
  for (const char* mode : {"active", "passive"}) {
    std::string name = std::string(mode) + ".bin";
    std::string output = Run({"python3", "-c", script, std::to_string(Port()), "resume", mode, name});
    EXPECT_NE(output.find("'image.bin'"), std::string::npos) << output;
    EXPECT_EQ(ReadFile(Local() / "image.bin"), kImage);
    ExpectUploaded(name);
    output = Run({"python3", "-c", script, std::to_string(Port()), "plain", mode, "never.bin"});
    EXPECT_NE(output.find("REFUSED 425 Can't open data connection"), std::string::npos) << output;
  }
  SetSetting("FTP", "FTLSRequireReuse", "0");
  std::string output = Run({"python3", "-c", script, std::to_string(Port()), "plain", "passive", "old.bin"});
  EXPECT_NE(output.find("NLST ['"), std::string::npos) << output;
  ExpectUploaded("old.bin");
}

// lftp encrypts a named user's session with its defaults, once it trusts the certificate; passive and
// active mode.
TEST_F(TlsClientsTest, LftpMirrorsATree) {
  StartServer({"FTP/UserSecurity=0"});
  WriteFile(Root() / "sub" / "image.bin", kImage);
  for (const char* passive : {"yes", "no"}) {
    std::string tree = std::string("tree-") + passive;
    Run({"lftp", "-c",
         "set net:max-retries 1; set net:timeout 10; set cmd:fail-exit yes; set ssl:verify-certificate no; "
         "set ftp:passive-mode " +
             std::string(passive) + "; open -u alice,secret1 " + Url("ftp", Port(), "") + "; mirror / " +
             tree + "; put up.bin -o " + tree + ".bin"});
    EXPECT_EQ(ReadFile(Local() / tree / "sub" / "image.bin"), kImage);
    ExpectUploaded(tree + ".bin");
  }
  auto entries = LogEntries();
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const std::string& e) { return e.starts_with("FTP: TLS established ("); }),
            2);
}

}  // namespace
}  // namespace hx::test
