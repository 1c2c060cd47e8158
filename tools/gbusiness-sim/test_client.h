// Test helpers: an RSA key made at test time, and a signer that produces the headers a client of
// the service sends (host, date, digest, Authorization), computed with OpenSSL directly.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_TEST_CLIENT_H_
#define QVPA_TOOLS_GBUSINESS_SIM_TEST_CLIENT_H_

#include <string>

#include <httplib.h>

#include "tools/gbusiness-sim/signature.h"

namespace qvpa::gbsim::testing {

class TestKey {
 public:
  static TestKey Generate(int bits = 2048);
  const std::string& public_pem() const { return public_pem_; }    // SubjectPublicKeyInfo
  std::string pkcs1_public_pem() const;                             // "RSA PUBLIC KEY"
  std::string private_pem() const;
  std::string Sign(const std::string& data) const;                  // raw RSASSA-PKCS1-v1_5 SHA-256

 private:
  std::shared_ptr<EVP_PKEY> key_;
  std::string public_pem_;
};

struct SignOptions {
  std::string key_id;
  std::string host = "127.0.0.1";
  bool url_safe = true;                                    // base64url (as the driver sends) or standard
  std::string header_list = "(request-target) host date digest";
};

// The headers of a signed request for method, target (path with query) and body.
httplib::Headers SignedHeaders(const TestKey& key, const SignOptions& options, const std::string& method,
                               const std::string& target, const std::string& body);

// The signing string the client signs, built independently of the server's code.
std::string ClientSigningString(const std::string& method, const std::string& target, const std::string& host,
                                const std::string& date, const std::string& digest);

std::string ClientDigest(const std::string& body);

}  // namespace qvpa::gbsim::testing

#endif  // QVPA_TOOLS_GBUSINESS_SIM_TEST_CLIENT_H_
