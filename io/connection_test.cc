#include "io/connection.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

TEST(ConnectionTest, FreshObjectHasDocumentedDefaults) {
  kConnection c;
  EXPECT_EQ(c.ConnectionType(), qvConnectionType::OPOS);
  EXPECT_EQ(c.AuthType(), qvHTTPAuthType::at_None);
  EXPECT_EQ(c.Parity(), qvParity::None);
  EXPECT_EQ(c.ConnectTimeOut(), 1000);
  EXPECT_EQ(c.ReadTimeOut(), 1000);
  EXPECT_EQ(c.Port(), 0);
  EXPECT_TRUE(c.URL().empty());
}

TEST(ConnectionTest, ConnectionTypeTextsIgnoreLetterCase) {
  const struct {
    std::u16string text;
    qvConnectionType type;
  } cases[] = {
      {u"HTTP", qvConnectionType::HTTP},   {u"Http", qvConnectionType::HTTP},
      {u"http", qvConnectionType::HTTP},   {u"Serial", qvConnectionType::Serial},
      {u"tcp", qvConnectionType::TCP},     {u"OPOS", qvConnectionType::OPOS},
      {u"Dll", qvConnectionType::DLL},     {u"COM", qvConnectionType::Com},
      {u"spool", qvConnectionType::Spool},
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(kConnection::ConvertConnectionType(tc.text), tc.type) << ToUtf8(tc.text);
  }
}

TEST(ConnectionTest, UnknownConnectionTypeIsRejectedWithTheTextAsGiven) {
  const struct {
    std::u16string text;
    std::u16string message;
  } cases[] = {
      {u"", u"Connection Type  is not valid"},
      {u" tcp", u"Connection Type  tcp is not valid"},
      {u"HTTPS", u"Connection Type HTTPS is not valid"},
      {u"tcp ", u"Connection Type tcp  is not valid"},
  };
  for (const auto& tc : cases) {
    try {
      kConnection::ConvertConnectionType(tc.text);
      ADD_FAILURE() << "accepted '" << ToUtf8(tc.text) << "'";
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), tc.message);
    }
  }
}

TEST(ConnectionTest, ParityTexts) {
  EXPECT_EQ(kConnection::ConvertParity(u"EVEN"), qvParity::Even);
  EXPECT_EQ(kConnection::ConvertParity(u"odd"), qvParity::Odd);
  EXPECT_EQ(kConnection::ConvertParity(u"None"), qvParity::None);
  for (const std::u16string bad : {u"mark", u"space", u"", u"Mark"}) {
    try {
      kConnection::ConvertParity(bad);
      ADD_FAILURE() << "accepted '" << ToUtf8(bad) << "'";
    } catch (const EQVError& e) {
      EXPECT_EQ(e.Message(), u"Connection Parity " + bad + u" is not valid");
    }
  }
}

TEST(ConnectionTest, AuthTypeFallsBackToNone) {
  EXPECT_EQ(kConnection::ConvertAuthType(u"Basic"), qvHTTPAuthType::at_Basic);
  EXPECT_EQ(kConnection::ConvertAuthType(u"DIGEST"), qvHTTPAuthType::at_Digest);
  EXPECT_EQ(kConnection::ConvertAuthType(u"none"), qvHTTPAuthType::at_None);
  for (const std::u16string other : {u"", u"bearer", u"Bearer", u" basic", u"ntlm"}) {
    EXPECT_EQ(kConnection::ConvertAuthType(other), qvHTTPAuthType::at_None) << ToUtf8(other);
  }
}

TEST(ConnectionTest, TimeOutSettersKeepPositiveValuesOnly) {
  kConnection c;
  c.SetConnectTimeOut(0);
  c.SetReadTimeOut(-5);
  EXPECT_EQ(c.ConnectTimeOut(), 1000);
  EXPECT_EQ(c.ReadTimeOut(), 1000);
  c.SetConnectTimeOut(1);
  c.SetReadTimeOut(2500);
  EXPECT_EQ(c.ConnectTimeOut(), 1);
  EXPECT_EQ(c.ReadTimeOut(), 2500);
  c.SetConnectTimeOut(-5);
  EXPECT_EQ(c.ConnectTimeOut(), 1);
}

TEST(ConnectionTest, TypeNamesForMessages) {
  EXPECT_EQ(ConnectionTypeName(qvConnectionType::TCP), u"TCP");
  EXPECT_EQ(ConnectionTypeName(qvConnectionType::Spool), u"Spool");
  EXPECT_EQ(ConnectionTypeName(qvConnectionType::Com), u"Com");
}

}  // namespace
}  // namespace qvpa
