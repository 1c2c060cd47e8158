#include "request/device_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "io/io_handler.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

// Reads a request given as UTF-8 and returns the handler.
std::unique_ptr<kDeviceHandler> Read(const std::string& aXml) {
  auto handler = std::make_unique<kDeviceHandler>();
  handler->Deserialize(FromUtf8(aXml));
  return handler;
}

std::u16string ReadError(const std::string& aXml) {
  return ErrorOf([&] { Read(aXml); });
}

TEST(DeviceHandlerTest, DevicePartOfTheRoot) {
  const auto h = Read(
      "<AnyRoot><Driver>QVPA_SATISPAY_10</Driver><Method>PAY</Method><Handle>12</Handle>"
      "<LogId>T01</LogId></AnyRoot>");
  EXPECT_EQ(h->Driver(), u"QVPA_SATISPAY_10");
  EXPECT_EQ(h->Method(), u"PAY");
  EXPECT_EQ(h->DeviceHandle(), 12);
  EXPECT_EQ(h->LogId(), u"T01");
  EXPECT_TRUE(h->Parameters().empty());
  // No connection section: the defaults.
  EXPECT_EQ(h->Connection().ConnectionType(), qvConnectionType::OPOS);
  EXPECT_EQ(h->Connection().ConnectTimeOut(), 1000);
  EXPECT_EQ(h->Connection().ReadTimeOut(), 1000);

  const auto nested = Read("<r><Inner><Driver>X</Driver></Inner></r>");
  EXPECT_EQ(nested->Driver(), u"");
}

TEST(DeviceHandlerTest, HandleTexts) {
  struct Case {
    const char* element;
    int32_t handle;
  };
  const Case kCases[] = {{"<Handle>12</Handle>", 12},
                         {"<Handle/>", 0},
                         {"", 0},
                         {"<Handle>-3</Handle>", -3},
                         {"<Handle>$A</Handle>", 10}};
  for (const Case& c : kCases) {
    EXPECT_EQ(Read(std::string("<r>") + c.element + "</r>")->DeviceHandle(), c.handle)
        << c.element;
  }
  EXPECT_EQ(ReadError("<r><Handle>abc</Handle></r>"),
            u"Error in processing node Handle as integer.\r\n'abc' is not a valid integer value");
  EXPECT_EQ(ReadError("<r><Handle>99999999999</Handle></r>"),
            u"Error in processing node Handle as integer.\r\n'99999999999' is not a valid "
            u"integer value");
}

TEST(DeviceHandlerTest, ConnectionSectionByType) {
  const auto http = Read(
      "<r><Connection><Type>Http</Type><ConnectTimeout>0</ConnectTimeout>"
      "<ReadTimeout>2500</ReadTimeout><Address>host</Address><Port>8443</Port>"
      "<URL>https://h/x</URL><AuthType>BASIC</AuthType><User>u</User><Password>p</Password>"
      "<DeviceName>ignored</DeviceName><SerialPort>COM1</SerialPort></Connection></r>");
  const kConnection& c = http->Connection();
  EXPECT_EQ(c.ConnectionType(), qvConnectionType::HTTP);
  EXPECT_EQ(c.ConnectTimeOut(), 1000);
  EXPECT_EQ(c.ReadTimeOut(), 2500);
  EXPECT_EQ(c.Address(), u"host");
  EXPECT_EQ(c.Port(), 8443);
  EXPECT_EQ(c.URL(), u"https://h/x");
  EXPECT_EQ(c.AuthType(), qvHTTPAuthType::at_Basic);
  EXPECT_EQ(c.User(), u"u");
  EXPECT_EQ(c.Password(), u"p");
  EXPECT_EQ(c.DeviceName(), u"");
  EXPECT_EQ(c.SerialPort(), u"");

  const auto serial = Read(
      "<r><Connection><Type>serial</Type><SerialPort>COM3</SerialPort><Speed>9600</Speed>"
      "<DataBits>8</DataBits><Parity>EVEN</Parity><StopBits>2</StopBits><Address>a</Address>"
      "<URL>u</URL><AuthType>digest</AuthType></Connection></r>");
  const kConnection& s = serial->Connection();
  EXPECT_EQ(s.ConnectionType(), qvConnectionType::Serial);
  EXPECT_EQ(s.SerialPort(), u"COM3");
  EXPECT_EQ(s.Speed(), 9600);
  EXPECT_EQ(s.DataBits(), 8);
  EXPECT_EQ(s.Parity(), qvParity::Even);
  EXPECT_EQ(s.StopBits(), 2);
  EXPECT_EQ(s.URL(), u"u");
  EXPECT_EQ(s.AuthType(), qvHTTPAuthType::at_Digest);
  EXPECT_EQ(s.Address(), u"");  // serial connections take no address

  struct OneField {
    const char* section;
    std::function<std::u16string(const kConnection&)> field;
    const char16_t* expected;
  };
  const OneField kFields[] = {
      {"<Type>OPOS</Type><DeviceName>FP1</DeviceName>", &kConnection::DeviceName, u"FP1"},
      {"<Type>tcp</Type><Address>10.0.0.1</Address>", &kConnection::Address, u"10.0.0.1"},
      {"<Type>dll</Type><LibraryName>v.dll</LibraryName>", &kConnection::LibraryName, u"v.dll"},
      {"<Type>spool</Type><PrinterName>P</PrinterName>", &kConnection::PrinterName, u"P"},
      {"<Type>com</Type><Address>x</Address><DeviceName>y</DeviceName>", &kConnection::Address,
       u""},
      {"<Type>com</Type><Address>x</Address><DeviceName>y</DeviceName>",
       &kConnection::DeviceName, u""},
      {"<Type>tcp</Type><DeviceName>y</DeviceName>", &kConnection::DeviceName, u""},
  };
  for (const OneField& f : kFields) {
    const auto h = Read(std::string("<r><Connection>") + f.section + "</Connection></r>");
    EXPECT_EQ(f.field(h->Connection()), f.expected) << f.section;
  }
}

TEST(DeviceHandlerTest, ConnectionSectionFailures) {
  struct Case {
    const char* section;
    const char16_t* message;
  };
  const Case kCases[] = {
      {"", u"Connection Type  is not valid"},
      {"<Type/>", u"Connection Type  is not valid"},
      {"<Type> tcp</Type>", u"Connection Type  tcp is not valid"},
      {"<Type>Usb</Type>", u"Connection Type Usb is not valid"},
      {"<Type>serial</Type>", u"Connection Parity  is not valid"},
      {"<Type>serial</Type><Parity>Mark</Parity>", u"Connection Parity Mark is not valid"},
      {"<Type>tcp</Type><Port>80x</Port>",
       u"Error in processing node Port as integer.\r\n'80x' is not a valid integer value"},
      {"<Type>http</Type><URL><a/></URL>",
       u"Error in processing node URL as string.\r\nElement \"URL\" does not contain a single "
       u"text node"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ReadError(std::string("<r><Connection>") + c.section + "</Connection></r>"),
              c.message)
        << c.section;
  }
}

TEST(DeviceHandlerTest, ParametersKeepOrderAndLowerCaseNames) {
  const auto h = Read(
      "<r><Parameters><KeyID>k-1</KeyID><Staging>True</Staging><Empty/><KeyID>k-2</KeyID>"
      "<p:Ns xmlns:p='urn:x'>n</p:Ns></Parameters></r>");
  const std::vector<std::u16string> expected = {u"keyid=k-1", u"staging=True", u"empty=",
                                                u"keyid=k-1", u"p:ns=n"};
  EXPECT_EQ(h->Parameters(), expected);
  EXPECT_EQ(h->GetParameter(u"KEYID"), u"k-1");
  EXPECT_EQ(h->GetParameter(u"staging"), u"True");
  EXPECT_TRUE(h->ParameterExists(u"Empty"));
  EXPECT_EQ(h->GetParameter(u"Empty"), u"");
  EXPECT_FALSE(h->ParameterExists(u"Missing"));
  EXPECT_EQ(h->GetParameter(u"Missing"), u"");
  EXPECT_FALSE(h->ParameterExists(u"key"));  // whole names only

  EXPECT_EQ(ReadError("<r><Parameters><KeyID>a<b/></KeyID></Parameters></r>"),
            u"Error in processing node KeyID as string.\r\nElement \"KeyID\" does not contain a "
            u"single text node");
}

TEST(DeviceHandlerTest, ManyParametersWithRepeatedNames) {
  // Every line carries the text of the first element of its name, however many there are.
  std::string xml = "<r><Parameters>";
  for (int i = 0; i < 20000; ++i) {
    xml += "<P" + std::to_string(i % 100) + ">" + std::to_string(i) + "</P" +
           std::to_string(i % 100) + ">";
  }
  xml += "</Parameters></r>";
  const auto h = Read(xml);
  ASSERT_EQ(h->Parameters().size(), 20000u);
  EXPECT_EQ(h->Parameters()[19999], u"p99=99");
  EXPECT_EQ(h->Parameters()[150], u"p50=50");
  EXPECT_EQ(h->GetParameter(u"P7"), u"7");
}

TEST(DeviceHandlerTest, DeviceNameAndConnectTimeoutParameters) {
  struct Case {
    const char* request;
    const char16_t* device_name;
    int32_t connect_timeout;
  };
  const Case kCases[] = {
      {"<r><Connection><Type>opos</Type><DeviceName>FP</DeviceName></Connection></r>", u"FP",
       1000},
      // DeviceName replaces the section's value whatever the type, even when empty.
      {"<r><Connection><Type>opos</Type><DeviceName>FP</DeviceName></Connection>"
       "<Parameters><devicename/></Parameters></r>",
       u"", 1000},
      {"<r><Connection><Type>http</Type></Connection><Parameters><DeviceName>D</DeviceName>"
       "</Parameters></r>",
       u"D", 1000},
      {"<r><Connection><Type>com</Type><ConnectTimeout>0</ConnectTimeout></Connection>"
       "<Parameters><ConnectTimeout>5000</ConnectTimeout></Parameters></r>",
       u"", 5000},
      {"<r><Connection><Type>com</Type><ConnectTimeout>3000</ConnectTimeout></Connection>"
       "<Parameters><CONNECTTIMEOUT>-1</CONNECTTIMEOUT></Parameters></r>",
       u"", 3000},
      {"<r><Parameters><ConnectTimeout>$10</ConnectTimeout></Parameters></r>", u"", 16},
  };
  for (const Case& c : kCases) {
    const auto h = Read(c.request);
    EXPECT_EQ(h->Connection().DeviceName(), c.device_name) << c.request;
    EXPECT_EQ(h->Connection().ConnectTimeOut(), c.connect_timeout) << c.request;
  }
  // Not wrapped in the node error.
  EXPECT_EQ(ReadError("<r><Parameters><ConnectTimeout>abc</ConnectTimeout></Parameters></r>"),
            u"'abc' is not a valid integer value");
  EXPECT_EQ(ReadError("<r><Parameters><ConnectTimeout/></Parameters></r>"),
            u"'' is not a valid integer value");
}

TEST(DeviceHandlerTest, HostileTextsEndAsErrors) {
  struct Case {
    const char* name;
    std::u16string text;
    const char16_t* message;
  };
  const Case kCases[] = {
      {"empty", u"", u"XML parse error: no element found at offset 0"},
      {"blank", u"   ", u"XML parse error: no element found at offset 3"},
      {"not xml", u"hello", u"XML parse error: syntax error at offset 0"},
      {"unclosed", u"<r><Driver>x</r>",
       u"XML parse error: mismatched tag at offset 14"},
      {"two roots", u"<r/>\n<s/>",
       u"XML parse error: junk after document element at offset 5"},
      {"null char", std::u16string(u"<r>a\0b</r>", 10),
       u"Request contains a null character at offset 4"},
      {"lone high surrogate", u"<r><Driver>\xD800x</Driver></r>",
       u"Request contains an unpaired UTF-16 surrogate at offset 11"},
      {"lone low surrogate", u"<r>\xDC00</r>",
       u"Request contains an unpaired UTF-16 surrogate at offset 3"},
      {"high surrogate at end", u"<r/>\xD83D",
       u"Request contains an unpaired UTF-16 surrogate at offset 4"},
      {"reference to null", u"<r><Driver>a&#0;b</Driver></r>",
       u"XML parse error: reference to invalid character number at offset 12"},
      {"reference to a surrogate", u"<r a='&#xD800;'/>",
       u"XML parse error: reference to invalid character number at offset 6"},
      {"reference beyond Unicode", u"<r>&#x110000;</r>",
       u"XML parse error: reference to invalid character number at offset 3"},
      {"huge reference", u"<r>&#99999999999999999999;</r>",
       u"XML parse error: reference to invalid character number at offset 3"},
      {"10 MB", u"<r>" + std::u16string(10 * 1024 * 1024, u'a') + u"</r>",
       u"Request too large: 10485767 characters, at most 1048576 are accepted"},
  };
  for (const Case& c : kCases) {
    kDeviceHandler h;
    EXPECT_EQ(ErrorOf([&] { h.Deserialize(c.text); }), c.message) << c.name;
  }
}

TEST(DeviceHandlerTest, ParseErrorOffsetCountsCharactersOfTheRequest) {
  // Two characters of four UTF-8 bytes each, then the error.
  EXPECT_EQ(ErrorOf([] { kDeviceHandler().Deserialize(u"<r>\u20AC\u20AC</s>"); }),
            u"XML parse error: mismatched tag at offset 7");
}

TEST(DeviceHandlerTest, ValidCharacterReferencesAndLiteralLookalikes) {
  kDeviceHandler h;
  h.Deserialize(
      u"<?pi &#0;?><!-- &#0; --><r><Driver>&#x1F600;&#233;&#9;</Driver>"
      u"<LogId><![CDATA[&#0;]]></LogId></r>");
  EXPECT_EQ(h.Driver(), u"😀é	");
  EXPECT_EQ(h.LogId(), u"&#0;");
}

TEST(DeviceHandlerTest, TextIsReadAsUnicodeWhateverTheDeclarationSays) {
  const std::u16string xml =
      u"\uFEFF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
      u"<r><Driver>\u00E8\u20AC\U0001F600</Driver></r>";
  kDeviceHandler h;
  h.Deserialize(xml);
  EXPECT_EQ(h.Driver(), u"\u00E8\u20AC\U0001F600");
}

TEST(DeviceHandlerTest, DeepNestingIsReadWithoutRecursion) {
  // As deep as the size limit allows: about 140,000 levels.
  std::u16string xml = u"<r><Driver>D</Driver>";
  const int depth = 140000;
  for (int i = 0; i < depth; ++i) xml += u"<a>";
  for (int i = 0; i < depth; ++i) xml += u"</a>";
  xml += u"</r>";
  ASSERT_LE(xml.size(), kDeviceHandler::kMaxRequestLength);
  kDeviceHandler h;
  auto document = h.Deserialize(xml);
  EXPECT_EQ(h.Driver(), u"D");
  document.reset();  // destroying the tree must not recurse either

  std::u16string open_only = u"<r>";
  for (int i = 0; i < depth; ++i) open_only += u"<a>";
  EXPECT_NE(ErrorOf([&] { kDeviceHandler().Deserialize(open_only); }).find(u"XML parse error"),
            std::u16string::npos);
}

TEST(DeviceHandlerTest, ChannelForANewDevice) {
  struct Case {
    const char* hexlog;
    bool on;
  };
  const Case kCases[] = {{"<HexLog>TRUE</HexLog>", true}, {"<HexLog>True</HexLog>", true},
                         {"<hexlog>true</hexlog>", true}, {"<HexLog>1</HexLog>", false},
                         {"<HexLog>yes</HexLog>", false}, {"<HexLog> true</HexLog>", false},
                         {"", false}};
  for (const Case& c : kCases) {
    testing_io::TempDir dir;
    const auto h = Read(
        std::string("<r><Driver>QVPA_SATISPAY_10</Driver><LogId>T01</LogId>"
                    "<Connection><Type>Com</Type><ReadTimeout>4000</ReadTimeout></Connection>"
                    "<Parameters>") +
        c.hexlog + "</Parameters></r>");
    auto channel = h->CreateIOHandler(dir.u16());
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->ClassName(), u"kIOHandler_Com");
    EXPECT_EQ(channel->HexLog(), c.on) << c.hexlog;
    EXPECT_EQ(channel->ReadTimeout(), 4000);
    EXPECT_NE(channel->GetLogFileName().find(u"QVPA_SATISPAY_10_T01"), std::u16string::npos);
    channel.reset();  // flushes the log
    bool found = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
      found = found || entry.path().filename().string().rfind("QVPA_SATISPAY_10_T01", 0) == 0;
    }
    EXPECT_TRUE(found) << "no log file named after driver and log id";
  }
}

}  // namespace
}  // namespace qvpa
