#include "tools/gbusiness-sim/signature.h"

#include <algorithm>
#include <cctype>

#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/sha.h>

namespace qvpa::gbsim {

namespace {

struct DecoderDeleter {
  void operator()(OSSL_DECODER_CTX* ctx) const { OSSL_DECODER_CTX_free(ctx); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

void SkipSpaces(std::string_view text, size_t& pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
}

std::vector<std::string> SplitBlanks(std::string_view text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    SkipSpaces(text, pos);
    if (pos >= text.size()) break;
    size_t end = pos;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    parts.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  return parts;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

}  // namespace

std::optional<SignatureParams> ParseAuthorization(std::string_view value) {
  size_t pos = 0;
  SkipSpaces(value, pos);
  constexpr std::string_view kScheme = "signature";
  if (Lower(value.substr(pos, kScheme.size())) != kScheme) return std::nullopt;
  pos += kScheme.size();
  if (pos >= value.size() || !IsSpace(value[pos])) return std::nullopt;

  SignatureParams params;
  bool seen_algorithm = false, seen_headers = false, seen_key = false, seen_signature = false;
  while (true) {
    SkipSpaces(value, pos);
    if (pos >= value.size()) break;
    const size_t equals = value.find('=', pos);
    if (equals == std::string_view::npos) return std::nullopt;
    std::string name = std::string(value.substr(pos, equals - pos));
    while (!name.empty() && IsSpace(name.back())) name.pop_back();
    pos = equals + 1;
    SkipSpaces(value, pos);
    if (pos >= value.size() || value[pos] != '"') return std::nullopt;
    const size_t close = value.find('"', pos + 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string item(value.substr(pos + 1, close - pos - 1));
    pos = close + 1;

    auto take = [&](bool& seen, std::string& field) {
      if (seen) return false;
      seen = true;
      field = std::move(item);
      return true;
    };
    bool fresh = true;
    if (name == "keyId") fresh = take(seen_key, params.key_id);
    else if (name == "algorithm") fresh = take(seen_algorithm, params.algorithm);
    else if (name == "headers") fresh = take(seen_headers, params.headers);
    else if (name == "signature") fresh = take(seen_signature, params.signature);
    if (!fresh) return std::nullopt;  // a parameter given twice is ambiguous

    SkipSpaces(value, pos);
    if (pos < value.size()) {
      if (value[pos] != ',') return std::nullopt;
      ++pos;
    }
  }
  if (!seen_key || !seen_signature) return std::nullopt;
  if (!seen_headers) params.headers = "date";
  return params;
}

std::string Base64Encode(std::string_view bytes) {
  if (bytes.empty()) return {};
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(written));
  return out;
}

std::optional<std::string> Base64DecodeAny(std::string_view text) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return std::nullopt;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

std::string BodyDigest(std::string_view body) {
  unsigned char hash[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(body.data()), body.size(), hash);
  return "SHA-256=" + Base64Encode(std::string_view(reinterpret_cast<const char*>(hash), sizeof hash));
}

std::shared_ptr<EVP_PKEY> LoadRsaPublicKey(std::string_view pem) {
  // Only public-key blocks count: a private key sent in their place is refused, not reduced.
  const bool spki = pem.find("-----BEGIN PUBLIC KEY-----") != std::string_view::npos;
  const bool pkcs1 = pem.find("-----BEGIN RSA PUBLIC KEY-----") != std::string_view::npos;
  if (!spki && !pkcs1) return nullptr;
  EVP_PKEY* key = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, DecoderDeleter> decoder(OSSL_DECODER_CTX_new_for_pkey(
      &key, "PEM", spki ? "SubjectPublicKeyInfo" : "type-specific", "RSA", EVP_PKEY_PUBLIC_KEY, nullptr,
      nullptr));
  if (!decoder) return nullptr;
  const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
  size_t length = pem.size();
  const bool decoded = OSSL_DECODER_from_data(decoder.get(), &data, &length) == 1;
  ERR_clear_error();
  std::shared_ptr<EVP_PKEY> owned(key, PKeyDeleter{});
  if (!decoded || !owned || EVP_PKEY_get_base_id(owned.get()) != EVP_PKEY_RSA) return nullptr;
  return owned;
}

bool VerifyRsaSha256(EVP_PKEY* key, std::string_view data, std::string_view signature) {
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1) {
    ERR_clear_error();
    return false;
  }
  const int ok = EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                  signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                                  data.size());
  ERR_clear_error();
  return ok == 1;
}

std::optional<std::string> BuildSigningString(const ReceivedRequest& request, std::string_view header_list,
                                              std::string* missing) {
  std::string text;
  for (const std::string& raw_name : SplitBlanks(header_list)) {
    const std::string name = Lower(raw_name);
    std::string value;
    if (name == "(request-target)") {
      value = Lower(request.method) + " " + request.target;
    } else {
      const std::vector<std::string> values = request.header_values(name);
      if (values.empty()) {
        if (missing != nullptr) *missing = name;
        return std::nullopt;
      }
      for (size_t i = 0; i < values.size(); ++i) value += (i == 0 ? "" : ", ") + values[i];
    }
    if (!text.empty()) text += '\n';
    text += name + ": " + value;
  }
  return text;
}

std::string VerifySignedRequest(const ReceivedRequest& request, const KeyLookup& find_key) {
  const std::vector<std::string> authorization = request.header_values("authorization");
  if (authorization.empty()) return "missing Authorization header";
  const std::optional<SignatureParams> params = ParseAuthorization(authorization.front());
  if (!params) return "malformed Authorization header";
  if (!params->algorithm.empty() && Lower(params->algorithm) != "rsa-sha256")
    return "unsupported algorithm " + params->algorithm;

  const std::vector<std::string> listed = SplitBlanks(Lower(params->headers));
  for (const char* required : {"(request-target)", "digest"}) {
    if (std::find(listed.begin(), listed.end(), required) == listed.end())
      return std::string("signed headers lack ") + required;
  }
  const std::vector<std::string> digests = request.header_values("digest");
  if (digests.size() != 1) return "expected exactly one digest header";
  const std::string expected = BodyDigest(request.body);
  const std::string& digest = digests.front();
  const size_t equals = digest.find('=');
  if (equals == std::string::npos || Lower(digest.substr(0, equals)) != "sha-256" ||
      digest.substr(equals) != expected.substr(expected.find('=')))
    return "digest does not match the body";

  const std::shared_ptr<EVP_PKEY> key = find_key(params->key_id);
  if (!key) return "unknown keyId \"" + params->key_id + "\"";
  const std::optional<std::string> raw_signature = Base64DecodeAny(params->signature);
  if (!raw_signature || raw_signature->empty()) return "signature is not Base64";

  std::string missing;
  const std::optional<std::string> signing_string = BuildSigningString(request, params->headers, &missing);
  if (!signing_string) return "signed header " + missing + " is missing";
  if (!VerifyRsaSha256(key.get(), *signing_string, *raw_signature)) return "signature does not verify";
  return {};
}

}  // namespace qvpa::gbsim
