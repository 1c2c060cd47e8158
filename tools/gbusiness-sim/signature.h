// Checking of signed requests: the Authorization header (Signature keyId="…", algorithm="rsa-sha256",
// headers="…", signature="…"), the body digest and the RSASSA-PKCS1-v1_5 SHA-256 signature over the
// signing string rebuilt from the request as received. All functions are thread-safe.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_SIGNATURE_H_
#define QVPA_TOOLS_GBUSINESS_SIM_SIGNATURE_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/evp.h>

namespace qvpa::gbsim {

struct PKeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PKeyPtr = std::unique_ptr<EVP_PKEY, PKeyDeleter>;

struct SignatureParams {
  std::string key_id;
  std::string algorithm;  // empty when the header leaves it out
  std::string headers;    // "date" when the header leaves it out
  std::string signature;
};

// Parses an Authorization value; nullopt when it is not a well-formed Signature header
// with keyId and signature.
std::optional<SignatureParams> ParseAuthorization(std::string_view value);

std::string Base64Encode(std::string_view bytes);

// Decodes standard Base64 or base64url, padding optional; nullopt on any other character.
std::optional<std::string> Base64DecodeAny(std::string_view text);

// "SHA-256=" + Base64 of the SHA-256 hash of the body.
std::string BodyDigest(std::string_view body);

// Loads a PEM public key (SubjectPublicKeyInfo or PKCS#1); null unless it is an RSA key.
std::shared_ptr<EVP_PKEY> LoadRsaPublicKey(std::string_view pem);

bool VerifyRsaSha256(EVP_PKEY* key, std::string_view data, std::string_view signature);

// The request as the server received it. `header_values` gives every value of a header
// (name matched without regard to letter case).
struct ReceivedRequest {
  std::string method;
  std::string target;  // path with query, exactly as on the request line
  std::string body;
  std::function<std::vector<std::string>(const std::string&)> header_values;
};

using KeyLookup = std::function<std::shared_ptr<EVP_PKEY>(const std::string& key_id)>;

// Verifies a signed request. Returns an empty text when it holds, else why it does not.
// The signed header list must cover (request-target) and digest, and the digest must match the body.
std::string VerifySignedRequest(const ReceivedRequest& request, const KeyLookup& find_key);

// The signing string for the headers listed (blank separated), each line "name: value".
// nullopt (with `missing` set) when a listed header is absent.
std::optional<std::string> BuildSigningString(const ReceivedRequest& request, std::string_view header_list,
                                              std::string* missing);

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_SIGNATURE_H_
