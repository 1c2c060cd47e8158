#include "satispay/tls_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

namespace qvpa::testing {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Check(ext != nullptr, "extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

Cert NewCertificate(EVP_PKEY* key, const char* common_name, X509* issuer, EVP_PKEY* issuer_key,
                    long serial) {
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (issuer == nullptr) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  Check(X509_sign(cert.get(), issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0, "sign");
  return cert;
}

}  // namespace

struct TestAuthority::Impl {
  Key key;
  Cert cert;
};

struct TestAuthority::Issued {
  Key key;
  Cert cert;
};

TestAuthority::TestAuthority(const std::string& common_name) : impl_(std::make_unique<Impl>()) {
  impl_->key = NewKey();
  impl_->cert = NewCertificate(impl_->key.get(), common_name.c_str(), nullptr, nullptr, 1);
  static std::atomic<int> counter{0};
  cert_file_ = std::filesystem::temp_directory_path() /
               ("qvpa-test-ca-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".pem");
  FILE* out = std::fopen(cert_file_.c_str(), "wb");
  Check(out != nullptr, "CA file");
  PEM_write_X509(out, impl_->cert.get());
  std::fclose(out);
}

TestAuthority::~TestAuthority() {
  std::error_code ignored;
  std::filesystem::remove(cert_file_, ignored);
}

std::unique_ptr<TestAuthority::Issued> TestAuthority::IssueServerCertificate() const {
  static std::atomic<long> serial{100};
  auto issued = std::make_unique<Issued>();
  issued->key = NewKey();
  issued->cert = NewCertificate(issued->key.get(), "127.0.0.1", impl_->cert.get(), impl_->key.get(),
                                ++serial);
  return issued;
}

TlsTestServer::TlsTestServer(const TestAuthority& authority,
                             const std::function<void(httplib::Server&)>& setup, int port)
    : issued_(authority.IssueServerCertificate()),
      server_(std::make_unique<httplib::SSLServer>(issued_->cert.get(), issued_->key.get())) {
  Check(server_->is_valid(), "server context");
  server_->set_tcp_nodelay(true);
  setup(*server_);
  port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1")
                    : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
  Check(port_ > 0, "bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only takes effect once the accept loop runs, so wait for it to start.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TlsTestServer::~TlsTestServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  Check(fd >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  Check(ok, "unused port");
  return ntohs(address.sin_port);
}

int EstablishedConnectionsTo(int port) {
  // Sockets of this process only: other programs on the machine may hold connections whose
  // far end carries the same port number.
  std::set<std::string> own_sockets;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.starts_with("socket:[")) own_sockets.insert(target.substr(8, target.size() - 9));
  }
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // column titles
  int count = 0;
  while (std::getline(table, line)) {
    // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...",
    // addresses as hex "0100007F:1F90"
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    const size_t colon = remote.find(':');
    if (colon == std::string::npos || state != "01" || own_sockets.count(inode) == 0) continue;  // 01: established
    if (std::stoi(remote.substr(colon + 1), nullptr, 16) == port) ++count;
  }
  return count;
}

int ServerSocketOf(const httplib::Request& request) {
  Check(request.ssl != nullptr, "TLS request");
  return SSL_get_fd(request.ssl);
}

}  // namespace qvpa::testing
