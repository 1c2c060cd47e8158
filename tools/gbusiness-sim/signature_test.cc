#include "tools/gbusiness-sim/signature.h"

#include <strings.h>

#include <functional>
#include <map>

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "tools/gbusiness-sim/test_client.h"

namespace qvpa::gbsim {
namespace {

using testing::ClientDigest;
using testing::SignedHeaders;
using testing::SignOptions;
using testing::TestKey;

// Key generation is slow: one signing key and one stranger for all cases.
const TestKey& SigningKey() {
  static const TestKey key = TestKey::Generate();
  return key;
}
const TestKey& StrangerKey() {
  static const TestKey key = TestKey::Generate();
  return key;
}

TEST(AuthorizationHeader, ParsesWellFormedAndRejectsMalformed) {
  const auto parsed = ParseAuthorization(
      R"(Signature keyId="k1", algorithm="rsa-sha256", headers="(request-target) host date digest", signature="ab-_c")");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->key_id, "k1");
  EXPECT_EQ(parsed->algorithm, "rsa-sha256");
  EXPECT_EQ(parsed->headers, "(request-target) host date digest");
  EXPECT_EQ(parsed->signature, "ab-_c");

  const auto minimal = ParseAuthorization(R"(signature keyId="",signature="x")");
  ASSERT_TRUE(minimal);
  EXPECT_EQ(minimal->key_id, "");
  EXPECT_EQ(minimal->headers, "date");  // the default list when headers= is left out

  for (const char* bad : {"", "Bearer abc", R"(Signature keyId="k")", R"(Signature signature="s")",
                          R"(Signature keyId="k", signature="s)", R"(Signature keyId=k, signature="s")",
                          R"(Signature keyId="k" signature="s")", R"(Signature keyId="a", keyId="b", signature="s")",
                          R"(SignaturekeyId="k", signature="s")"}) {
    EXPECT_FALSE(ParseAuthorization(bad)) << bad;
  }
}

TEST(Base64, DecodesStandardAndUrlFormsWithOrWithoutPadding) {
  const std::string bytes("\xfb\xff\xbe\x00\x01", 5);
  for (const char* text : {"+/++AAE=", "+/++AAE", "-_--AAE", "-_--AAE="}) {
    const auto decoded = Base64DecodeAny(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_EQ(*decoded, bytes) << text;
  }
  EXPECT_EQ(Base64Encode(bytes), "+/++AAE=");
  for (const char* bad : {"ab$d", "abcde", "a b c"}) EXPECT_FALSE(Base64DecodeAny(bad)) << bad;
}

TEST(BodyDigest, IsSha256OfTheBodyAlsoWhenEmpty) {
  EXPECT_EQ(BodyDigest(""), "SHA-256=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
  EXPECT_EQ(BodyDigest(R"({"action": "CANCEL_OR_REFUND"})"), ClientDigest(R"({"action": "CANCEL_OR_REFUND"})"));
}

TEST(PublicKeys, AcceptOnlyRsaPublicKeysInPem) {
  const TestKey& key = SigningKey();
  EXPECT_TRUE(LoadRsaPublicKey(key.public_pem()));
  EXPECT_TRUE(LoadRsaPublicKey(key.pkcs1_public_pem()));

  std::shared_ptr<EVP_PKEY> ec(EVP_EC_gen("P-256"), EVP_PKEY_free);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, ec.get());
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  const std::string ec_pem(data, static_cast<size_t>(size));
  BIO_free(bio);

  std::string truncated = key.public_pem();
  truncated.erase(40, 30);
  for (const std::string& bad : {ec_pem, key.private_pem(), truncated, std::string("not a key"), std::string()}) {
    EXPECT_FALSE(LoadRsaPublicKey(bad)) << bad;
  }
}

// A request as the server would see it, signed by the test client.
struct Fixture {
  const TestKey& key = SigningKey();
  const TestKey& other = StrangerKey();
  std::multimap<std::string, std::string> headers;
  ReceivedRequest request;

  Fixture(const std::string& method, const std::string& target, const std::string& body, bool url_safe) {
    SignOptions options;
    options.key_id = "key-1";
    options.host = "service.example:8443";
    options.url_safe = url_safe;
    for (const auto& [name, value] : SignedHeaders(key, options, method, target, body)) headers.emplace(name, value);
    request = ReceivedRequest{method, target, body, [this](const std::string& name) {
                                std::vector<std::string> values;
                                for (const auto& [n, v] : headers) {
                                  if (strcasecmp(n.c_str(), name.c_str()) == 0) values.push_back(v);
                                }
                                return values;
                              }};
  }
  KeyLookup Keys(const TestKey& registered) const {
    auto pem = LoadRsaPublicKey(registered.public_pem());
    return [pem](const std::string& id) { return id == "key-1" ? pem : nullptr; };
  }
  void Replace(const std::string& name, const std::string& value) {
    headers.erase(name);
    headers.emplace(name, value);
  }
};

TEST(SignedRequest, HoldsInBothEncodingsAndForEmptyBodies) {
  for (bool url_safe : {true, false}) {
    Fixture post("POST", "/g_business/v1/payments", R"({"flow":"MATCH_CODE","amount_unit":1250})", url_safe);
    EXPECT_EQ(VerifySignedRequest(post.request, post.Keys(post.key)), "") << url_safe;
    Fixture get("GET", "/g_business/v1/payments?starting_after=a&limit=20", "", url_safe);
    EXPECT_EQ(VerifySignedRequest(get.request, get.Keys(get.key)), "") << url_safe;
  }
}

TEST(SignedRequest, AnyChangeAfterSigningIsRefusedWithItsReason) {
  struct Case {
    const char* name;
    std::function<void(Fixture&)> tamper;
    const char* reason;
  };
  const Case cases[] = {
      {"body", [](Fixture& f) { f.request.body = R"({"amount_unit":9999})"; }, "digest does not match the body"},
      {"digest and body",
       [](Fixture& f) {
         f.request.body = R"({"amount_unit":9999})";
         f.Replace("digest", ClientDigest(f.request.body));
       },
       "signature does not verify"},
      {"path", [](Fixture& f) { f.request.target = "/g_business/v1/payments/other"; }, "signature does not verify"},
      {"method", [](Fixture& f) { f.request.method = "PUT"; }, "signature does not verify"},
      {"host", [](Fixture& f) { f.Replace("host", "service.example"); }, "signature does not verify"},
      {"date", [](Fixture& f) { f.Replace("date", "Tue, 19 Mar 2019 15:10:24 +0000"); }, "signature does not verify"},
      {"no host", [](Fixture& f) { f.headers.erase("host"); }, "signed header host is missing"},
      {"no digest", [](Fixture& f) { f.headers.erase("digest"); }, "expected exactly one digest header"},
      {"no authorization", [](Fixture& f) { f.headers.erase("Authorization"); }, "missing Authorization header"},
      {"digest not signed",
       [](Fixture& f) {
         std::string value = f.headers.find("Authorization")->second;
         value.replace(value.find(" digest\""), 8, "\"");
         f.Replace("Authorization", value);
       },
       "signed headers lack digest"},
      {"other algorithm",
       [](Fixture& f) {
         std::string value = f.headers.find("Authorization")->second;
         value.replace(value.find("rsa-sha256"), 10, "hmac-sha256");
         f.Replace("Authorization", value);
       },
       "unsupported algorithm hmac-sha256"},
  };
  for (const Case& c : cases) {
    Fixture f("POST", "/g_business/v1/payments", R"({"amount_unit":1250})", true);
    c.tamper(f);
    EXPECT_EQ(VerifySignedRequest(f.request, f.Keys(f.key)), c.reason) << c.name;
  }

  Fixture wrong_key("GET", "/g_business/v1/payments/x", "", true);
  EXPECT_EQ(VerifySignedRequest(wrong_key.request, wrong_key.Keys(wrong_key.other)), "signature does not verify");
  Fixture unknown("GET", "/g_business/v1/payments/x", "", true);
  EXPECT_EQ(VerifySignedRequest(unknown.request, [](const std::string&) { return nullptr; }),
            "unknown keyId \"key-1\"");
}

TEST(SigningString, FollowsTheListedOrderWithLowerCaseNames) {
  const std::map<std::string, std::string> headers = {{"date", "D"}, {"digest", "G"}, {"host", "H"}};
  const ReceivedRequest request{"GET", "/p?q=1", "", [&](const std::string& name) {
                                  auto found = headers.find(name);
                                  return found == headers.end() ? std::vector<std::string>{}
                                                                : std::vector<std::string>{found->second};
                                }};
  EXPECT_EQ(BuildSigningString(request, "Digest (request-target)  host", nullptr),
            "digest: G\n(request-target): get /p?q=1\nhost: H");
  std::string missing;
  EXPECT_FALSE(BuildSigningString(request, "host x-extra", &missing));
  EXPECT_EQ(missing, "x-extra");
}

}  // namespace
}  // namespace qvpa::gbsim
