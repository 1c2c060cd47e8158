// Activation tokens and registered public keys. A token registers one key, once; the key is then
// found by the key identifier handed out for it. Thread-safe.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_KEY_REGISTRY_H_
#define QVPA_TOOLS_GBUSINESS_SIM_KEY_REGISTRY_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <openssl/evp.h>

#include "tools/gbusiness-sim/answer.h"

namespace qvpa::gbsim {

class KeyRegistry {
 public:
  void AddToken(const std::string& token);

  // Registers `pem` under a fresh key identifier. False when the key is not an RSA public key.
  bool AddKey(const std::string& key_id, const std::string& pem);

  // The service's answer to POST authentication_keys with this body: 200 {"key_id"}, 404 code 41
  // (unknown token), 403 code 45 (token used), 400 code 34 (not a PEM RSA public key) or 400 code 27
  // (body not a JSON object with two strings). A failed registration leaves the token unused.
  Answer Register(const std::string& body);

  std::shared_ptr<EVP_PKEY> Find(const std::string& key_id) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, bool> tokens_;  // token -> used
  std::map<std::string, std::shared_ptr<EVP_PKEY>> keys_;
};

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_KEY_REGISTRY_H_
