#include "tools/gbusiness-sim/key_registry.h"

#include "tools/gbusiness-sim/signature.h"
#include "tools/gbusiness-sim/uuid.h"

namespace qvpa::gbsim {

void KeyRegistry::AddToken(const std::string& token) {
  std::lock_guard lock(mutex_);
  tokens_.try_emplace(token, false);
}

bool KeyRegistry::AddKey(const std::string& key_id, const std::string& pem) {
  std::shared_ptr<EVP_PKEY> key = LoadRsaPublicKey(pem);
  if (!key) return false;
  std::lock_guard lock(mutex_);
  keys_[key_id] = std::move(key);
  return true;
}

Answer KeyRegistry::Register(const std::string& body) {
  const nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
  if (!request.is_object() || !request.contains("public_key") || !request["public_key"].is_string() ||
      !request.contains("token") || !request["token"].is_string())
    return ErrorAnswer(400, 27, "Invalid request body: public_key and token are required");
  const std::string token = request["token"];
  const std::string pem = request["public_key"];

  std::lock_guard lock(mutex_);
  const auto found = tokens_.find(token);
  if (found == tokens_.end()) return ErrorAnswer(404, 41, "Resource not found");
  if (found->second) return ErrorAnswer(403, 45, "Token already used");
  std::shared_ptr<EVP_PKEY> key = LoadRsaPublicKey(pem);
  if (!key) return ErrorAnswer(400, 34, "Invalid RSA public key");
  found->second = true;
  const std::string key_id = NewKeyId();
  keys_[key_id] = std::move(key);
  return JsonAnswer({{"key_id", key_id}});
}

std::shared_ptr<EVP_PKEY> KeyRegistry::Find(const std::string& key_id) const {
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(key_id);
  return found == keys_.end() ? nullptr : found->second;
}

}  // namespace qvpa::gbsim
