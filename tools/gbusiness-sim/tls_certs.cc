#include "tools/gbusiness-sim/tls_certs.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace qvpa::gbsim {

namespace {

struct PKeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, PKeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

[[noreturn]] void Fail(const std::string& step) {
  char reason[256] = "";
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  ERR_clear_error();
  throw std::runtime_error("TLS setup: " + step + " failed: " + reason);
}

void Check(int result, const char* step) {
  if (result != 1) Fail(step);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  if (!key) Fail("key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  if (!ext) Fail("extension " + value);
  Check(X509_add_ext(cert, ext.get(), -1), "adding an extension");
}

Cert NewCertificate(EVP_PKEY* key, const std::string& common_name, X509* issuer, EVP_PKEY* issuer_key,
                    bool is_ca, const std::string& alt_names) {
  Cert cert(X509_new());
  if (!cert) Fail("certificate allocation");
  Check(X509_set_version(cert.get(), 2), "version");
  unsigned char serial[16];
  Check(RAND_bytes(serial, sizeof serial), "serial number");
  serial[0] &= 0x7F;
  std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_bin2bn(serial, sizeof serial, nullptr), BN_free);
  if (!bn || BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) == nullptr) Fail("serial number");
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
  Check(X509_set_pubkey(cert.get(), key), "public key");
  X509_NAME* name = X509_get_subject_name(cert.get());
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1, 0),
        "subject name");
  X509* signer = issuer != nullptr ? issuer : cert.get();
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)), "issuer name");
  if (is_ca) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, alt_names);
  }
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  if (X509_sign(cert.get(), issuer_key != nullptr ? issuer_key : key, EVP_sha256()) == 0) Fail("signing");
  return cert;
}

std::string AltNames(const std::vector<std::string>& extra_names) {
  std::string names = "DNS:localhost,IP:127.0.0.1,IP:::1";
  for (const std::string& n : extra_names) {
    unsigned char address[16];
    const bool is_ip = inet_pton(AF_INET, n.c_str(), address) == 1 || inet_pton(AF_INET6, n.c_str(), address) == 1;
    names += (is_ip ? ",IP:" : ",DNS:") + n;
  }
  return names;
}

std::unique_ptr<std::FILE, FileClose> OpenForWrite(const std::string& path, bool secret) {
  std::filesystem::remove(path);
  // The key file is created private: no moment where others may read it.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secret ? 0600 : 0644);
  std::unique_ptr<std::FILE, FileClose> file(fd >= 0 ? fdopen(fd, "w") : nullptr);
  if (!file) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("TLS setup: cannot write " + path);
  }
  return file;
}

void WriteCert(const std::string& path, X509* cert) {
  auto file = OpenForWrite(path, false);
  Check(PEM_write_X509(file.get(), cert), "writing a certificate");
}

}  // namespace

TlsFiles GenerateTlsFiles(const std::string& directory, const std::vector<std::string>& extra_names) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) throw std::runtime_error("TLS setup: no folder " + directory);
  const std::filesystem::path folder(directory);
  TlsFiles files{(folder / "ca.pem").string(), (folder / "server.pem").string(),
                 (folder / "server-key.pem").string()};

  Key ca_key = NewKey();
  Cert ca = NewCertificate(ca_key.get(), "gbusiness-sim local CA", nullptr, nullptr, true, "");
  Key server_key = NewKey();
  Cert server = NewCertificate(server_key.get(), "localhost", ca.get(), ca_key.get(), false, AltNames(extra_names));

  WriteCert(files.ca_file, ca.get());
  WriteCert(files.cert_file, server.get());
  auto key_file = OpenForWrite(files.key_file, true);
  Check(PEM_write_PrivateKey(key_file.get(), server_key.get(), nullptr, nullptr, 0, nullptr, nullptr),
        "writing the server key");
  return files;
}

}  // namespace qvpa::gbsim
