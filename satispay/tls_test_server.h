// Test support: a throw-away certificate authority and an HTTPS server on a loopback
// ephemeral port whose certificate it signed. Keys live in memory only; the CA
// certificate (public) is written to a temporary PEM file for clients to trust.
#ifndef QVPA_SATISPAY_TLS_TEST_SERVER_H_
#define QVPA_SATISPAY_TLS_TEST_SERVER_H_

#include <httplib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qvpa::testing {

// A self-signed authority that issues server certificates for 127.0.0.1 and localhost.
class TestAuthority {
 public:
  explicit TestAuthority(const std::string& common_name = "QVPA Test Root");
  ~TestAuthority();
  TestAuthority(const TestAuthority&) = delete;
  TestAuthority& operator=(const TestAuthority&) = delete;

  const std::filesystem::path& CertificateFile() const { return cert_file_; }

  struct Issued;
  // A certificate for the loopback names, signed by this authority, with a fresh key.
  std::unique_ptr<Issued> IssueServerCertificate() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::filesystem::path cert_file_;
};

// An HTTPS server on 127.0.0.1:<ephemeral>, answering from its own thread until destroyed.
class TlsTestServer {
 public:
  // `setup` registers the handlers before the server starts listening; `port` 0 takes a
  // free port, another value that port (e.g. the one of a server destroyed before).
  TlsTestServer(const TestAuthority& authority, const std::function<void(httplib::Server&)>& setup,
                int port = 0);
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::unique_ptr<TestAuthority::Issued> issued_;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
};

// A loopback port on which nothing listens (bound, then closed).
int UnusedLoopbackPort();

// How many TCP connections of this process are established towards `port` (the client
// ends of the connections to a test server or to the local service).
int EstablishedConnectionsTo(int port);

// The server's socket of the connection that carried `request`. A test that shuts it down
// (shutdown(2), both ways) after the answer closes the connection as a server closes an
// idle kept-alive one; the server itself closes the descriptor then.
int ServerSocketOf(const httplib::Request& request);

}  // namespace qvpa::testing

#endif  // QVPA_SATISPAY_TLS_TEST_SERVER_H_
