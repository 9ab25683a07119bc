#include "tls/tls_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <csignal>
#include <functional>
#include <random>

#include "support/temp_dir.h"
#include "tls/certificate.h"

namespace hx::tls {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;

// A server's certificate in a temporary folder, and the sockets of connections on 127.0.0.1, all run by
// the test's own io_context.
class TlsStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);  // OpenSSL writes with write(2)
    m_certificate = (m_dir.Path() / "server.crt").string();
    ASSERT_EQ(MakeSelfSignedCertificate(m_certificate, (m_dir.Path() / "server.key").string(), "localhost",
                                        {"127.0.0.1"}),
              "");
    std::string error;
    m_server = TlsContext::MakeServer(m_certificate, (m_dir.Path() / "server.key").string(), error);
    ASSERT_TRUE(m_server) << error;
  }

  std::shared_ptr<TlsContext> Client(TlsContext::Check check = TlsContext::Check::None) {
    std::string error;
    auto context = TlsContext::MakeClient(check, error);
    EXPECT_TRUE(context) << error;
    return context;
  }

  // The two ends of a new connection: the accepted one and the connecting one.
  std::pair<tcp::socket, tcp::socket> Connect() {
    tcp::acceptor acceptor(m_io, {asio::ip::address_v4::loopback(), 0});
    tcp::socket client(m_io);
    client.connect(acceptor.local_endpoint());
    return {acceptor.accept(), std::move(client)};
  }

  // Runs the io_context until `done` holds; false when it does not within a bound that no test nears.
  bool RunUntil(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + 20s;
    while (!done() && std::chrono::steady_clock::now() < limit) {
      if (m_io.stopped()) m_io.restart();  // it stops whenever it runs out of work
      m_io.run_one_for(100ms);
    }
    return done();
  }

  // Both handshakes; their errors.
  std::pair<std::error_code, std::error_code> Shake(TlsStream& server, TlsStream& client) {
    int finished = 0;
    std::error_code serverError, clientError;
    server.Handshake([&](std::error_code error) { serverError = error, ++finished; });
    client.Handshake([&](std::error_code error) { clientError = error, ++finished; });
    EXPECT_TRUE(RunUntil([&] { return finished == 2; }));
    return {serverError, clientError};
  }

  // `bytes` written by one stream, read whole by the other in reads of the sizes of `reads`, in turn.
  std::string Pass(TlsStream& from, TlsStream& to, const std::string& bytes,
                   std::vector<std::size_t> reads = {4096}) {
    std::size_t written = 0;
    std::function<void()> write = [&] {
      from.WriteSome(asio::buffer(bytes.data() + written, bytes.size() - written),
                     [&](std::error_code error, std::size_t n) {
                       written += n;
                       EXPECT_FALSE(error) << error.message();
                       if (!error && written < bytes.size()) write();
                     });
    };
    write();
    std::string got;
    std::vector<char> buffer(*std::max_element(reads.begin(), reads.end()));
    std::size_t turn = 0;
    std::function<void()> read = [&] {
      to.ReadSome(asio::buffer(buffer.data(), reads[turn++ % reads.size()]),
                  [&](std::error_code error, size_t n) {
                    got.append(buffer.data(), n);
                    if (!error && got.size() < bytes.size()) read();
                  });
    };
    read();
    EXPECT_TRUE(RunUntil([&] { return written == bytes.size() && got.size() == bytes.size(); }));
    return got;
  }

  test::TempDir m_dir;
  std::string m_certificate;
  asio::io_context m_io;
  std::shared_ptr<TlsContext> m_server;
};

TEST_F(TlsStreamTest, DataConnectionsResumeTheSessionOfTheirTagOnly) {
  struct Case {
    int maxVersion;
    const char* protocol;
    const char* dataTag;
    bool resumed;
  };
  for (const Case& c : {Case{TLS1_3_VERSION, "TLSv1.3", "control 1", true},
                        Case{TLS1_3_VERSION, "TLSv1.3", "control 2", false},
                        Case{TLS1_2_VERSION, "TLSv1.2", "control 1", true},
                        Case{TLS1_2_VERSION, "TLSv1.2", "control 2", false}}) {
    SCOPED_TRACE(std::string(c.protocol) + " " + c.dataTag);
    auto client = Client();
    SSL_CTX_set_max_proto_version(client->Native(), c.maxVersion);
    auto [controlServerSocket, controlClientSocket] = Connect();
    TlsStream controlServer(std::move(controlServerSocket), m_server);
    TlsStream controlClient(std::move(controlClientSocket), client);
    controlServer.SetSessionTag("control 1");
    controlClient.SetPeerName("localhost");
    auto [serverError, clientError] = Shake(controlServer, controlClient);
    ASSERT_FALSE(serverError || clientError)
        << controlServer.FailureReason() << controlClient.FailureReason();
    EXPECT_EQ(controlServer.Protocol(), c.protocol);
    EXPECT_FALSE(controlServer.Cipher().empty());
    EXPECT_FALSE(controlClient.Resumed());
    // Both ways; the client takes the session tickets that follow the handshake with its first read.
    EXPECT_EQ(Pass(controlClient, controlServer, "USER alice\r\n"), "USER alice\r\n");
    EXPECT_EQ(Pass(controlServer, controlClient, "331 Password required\r\n"), "331 Password required\r\n");

    auto [dataServerSocket, dataClientSocket] = Connect();
    TlsStream dataServer(std::move(dataServerSocket), m_server);
    TlsStream dataClient(std::move(dataClientSocket), client);
    dataServer.SetSessionTag(c.dataTag);
    dataServer.SendNoTickets();
    dataClient.ResumeSessionOf(controlClient);
    std::tie(serverError, clientError) = Shake(dataServer, dataClient);
    ASSERT_FALSE(serverError || clientError) << dataServer.FailureReason() << dataClient.FailureReason();
    EXPECT_EQ(dataServer.Resumed(), c.resumed);
    EXPECT_EQ(dataClient.Resumed(), c.resumed);
    dataServer.Close();
    dataClient.Close();
  }
}

// The client reads slowly in odd sizes through small socket buffers, so that OpenSSL's writes keep
// having to wait and are retried from the file buffer.
TEST_F(TlsStreamTest, SendFileNowSendsAFileWhole) {
  std::string content(3 * 1024 * 1024 + 12345, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  test::WriteFile(m_dir.Path() / "image.bin", content);
  int fd = ::open((m_dir.Path() / "image.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);

  auto [serverSocket, clientSocket] = Connect();
  serverSocket.set_option(asio::socket_base::send_buffer_size(16 * 1024));
  clientSocket.set_option(asio::socket_base::receive_buffer_size(16 * 1024));
  TlsStream server(std::move(serverSocket), m_server);
  TlsStream client(std::move(clientSocket), Client());
  auto [serverError, clientError] = Shake(server, client);
  ASSERT_FALSE(serverError || clientError);
  EXPECT_FALSE(server.KernelSends());  // this machine's kernel has no TLS; elsewhere the other path runs

  std::uint64_t sent = 0;
  int waits = 0;
  std::error_code sendError;
  std::function<void()> send = [&] {
    while (sent < content.size()) {
      std::size_t span = std::min<std::size_t>(content.size() - sent, 24 * 10240);
      std::size_t n = server.SendFileNow(fd, sent, span, sendError);
      sent += n;
      if (n > 0) continue;
      if (sendError != asio::error::would_block) return;
      ++waits;
      server.WaitWritable([&](std::error_code error) { error ? void(sendError = error) : send(); });
      return;
    }
  };
  send();
  std::string got;
  std::vector<char> buffer(65537);
  const std::size_t reads[] = {1, 777, 4093, 16385, 65537};
  std::size_t turn = 0;
  std::error_code readError;
  std::function<void()> read = [&] {
    client.ReadSome(asio::buffer(buffer.data(), reads[turn++ % 5]), [&](std::error_code error, size_t n) {
      got.append(buffer.data(), n);
      readError = error;
      if (!error && got.size() < content.size()) read();
    });
  };
  read();
  ASSERT_TRUE(RunUntil([&] { return got.size() == content.size() || readError; })) << sendError.message();
  ::close(fd);
  EXPECT_FALSE(readError) << readError.message();
  EXPECT_GT(waits, 0);
  EXPECT_TRUE(got == content);
  EXPECT_EQ(server.ReceiveFileNow(fd, 1, sendError), 0u);
  EXPECT_EQ(sendError, asio::error::operation_not_supported);
}

TEST_F(TlsStreamTest, ClientChecksTheCertificateOrTakesItsFingerprint) {
  auto [serverSocket, clientSocket] = Connect();
  TlsStream server(std::move(serverSocket), m_server);
  TlsStream checking(std::move(clientSocket), Client(TlsContext::Check::TrustStore));
  checking.SetPeerName("localhost");
  auto [serverError, clientError] = Shake(server, checking);
  EXPECT_TRUE(serverError);
  ASSERT_TRUE(clientError);
  EXPECT_EQ(checking.FailureReason(), X509_verify_cert_error_string(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT));
  EXPECT_EQ(clientError.message(), checking.FailureReason());

  auto [serverSocket2, clientSocket2] = Connect();
  TlsStream server2(std::move(serverSocket2), m_server);
  TlsStream trusting(std::move(clientSocket2), Client(TlsContext::Check::None));
  trusting.SetPeerName("127.0.0.1");
  std::tie(serverError, clientError) = Shake(server2, trusting);
  ASSERT_FALSE(serverError || clientError);
  std::string error;
  EXPECT_EQ(trusting.PeerFingerprint(), CertificateFingerprint(m_certificate, error).value_or("none"));
  EXPECT_EQ(trusting.PeerFingerprint(), m_server->Fingerprint());
  EXPECT_EQ(server2.PeerFingerprint(), "");  // the client sent none
}

// The peer's close_notify is the end of the data.
TEST_F(TlsStreamTest, CloseSendsTheEndOfTheData) {
  auto [serverSocket, clientSocket] = Connect();
  TlsStream server(std::move(serverSocket), m_server);
  auto client = std::make_unique<TlsStream>(std::move(clientSocket), Client());
  std::error_code early;
  char byte = 0;
  client->ReadSome(asio::buffer(&byte, 1), [&](std::error_code error, size_t) { early = error; });
  ASSERT_TRUE(RunUntil([&] { return bool(early); }));
  EXPECT_EQ(early, asio::error::not_connected);
  auto [serverError, clientError] = Shake(server, *client);
  ASSERT_FALSE(serverError || clientError);
  server.Close();
  std::error_code end;
  client->ReadSome(asio::buffer(&byte, 1), [&](std::error_code error, size_t) { end = error; });
  ASSERT_TRUE(RunUntil([&] { return bool(end); }));
  EXPECT_EQ(end, asio::error::eof);
}

// A read that waits on the socket when its stream goes away ends as aborted, touching nothing of it.
TEST_F(TlsStreamTest, ReadPendingWhenTheStreamGoesAway) {
  auto [serverSocket, clientSocket] = Connect();
  TlsStream server(std::move(serverSocket), m_server);
  auto client = std::make_unique<TlsStream>(std::move(clientSocket), Client());
  auto [serverError, clientError] = Shake(server, *client);
  ASSERT_FALSE(serverError || clientError);
  char byte = 0;
  std::error_code aborted;
  client->ReadSome(asio::buffer(&byte, 1), [&](std::error_code error, size_t) { aborted = error; });
  m_io.poll();
  client.reset();
  ASSERT_TRUE(RunUntil([&] { return bool(aborted); }));
  EXPECT_EQ(aborted, asio::error::operation_aborted);
}

}  // namespace
}  // namespace hx::tls
