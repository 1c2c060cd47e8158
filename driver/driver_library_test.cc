// The exports as a host sees them: the shared library loaded at run time, strings made and
// freed by the library's own allocator.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "payment/device_test_support.h"

namespace {

using qvpa::FromUtf8;
using qvpa::ToUtf8;
using qvpa::testing_device::ReadFile;
using qvpa::testing_device::TempLogRoot;

using BSTR = char16_t*;
using Export = int16_t (*)(BSTR, BSTR*, BSTR*);

// One loaded copy of a driver library and its entry points.
class Library {
 public:
  explicit Library(const char* aPath) : handle_(dlopen(aPath, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    alloc_len_ = Symbol<BSTR (*)(const char16_t*, unsigned int)>("SysAllocStringLen");
    alloc_ = Symbol<BSTR (*)(const char16_t*)>("SysAllocString");
    free_ = Symbol<void (*)(BSTR)>("SysFreeString");
    len_ = Symbol<unsigned int (*)(BSTR)>("SysStringLen");
  }
  ~Library() { dlclose(handle_); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  template <class F>
  F Symbol(const char* aName) const {
    void* symbol = dlsym(handle_, aName);
    if (symbol == nullptr) throw std::runtime_error(std::string("missing ") + aName);
    return reinterpret_cast<F>(symbol);
  }

  struct Answer {
    int16_t result = 0;
    std::u16string output, error;
    bool output_null = true, error_null = true;
  };

  // Calls an export with a BSTR of the library's allocator (null for aNull) and frees the
  // copies it hands back.
  Answer Call(const char* aExport, const std::u16string& aRequest, bool aNull = false) const {
    BSTR request = aNull ? nullptr : alloc_len_(aRequest.data(), static_cast<unsigned>(aRequest.size()));
    BSTR output = nullptr;
    BSTR error = nullptr;
    Answer a;
    a.result = Symbol<Export>(aExport)(request, &output, &error);
    free_(request);
    a.output_null = output == nullptr;
    a.error_null = error == nullptr;
    if (output != nullptr) a.output.assign(output, len_(output));
    if (error != nullptr) a.error.assign(error, len_(error));
    free_(output);
    free_(error);
    return a;
  }

  BSTR (*alloc_len_)(const char16_t*, unsigned int);
  BSTR (*alloc_)(const char16_t*);
  void (*free_)(BSTR);
  unsigned int (*len_)(BSTR);

 private:
  void* handle_;
};

std::u16string Open(const std::u16string& aDriver = u"TEST_COM", const std::u16string& aExtra = u"") {
  return u"<Request><Driver>" + aDriver +
         u"</Driver><LogId>L1</LogId><Connection><Type>Com</Type></Connection>" + aExtra +
         u"</Request>";
}
std::u16string WithHandle(int aHandle, const std::u16string& aExtra = u"") {
  return u"<Request><Handle>" + qvpa::IntToStr(aHandle) + u"</Handle>" + aExtra + u"</Request>";
}
std::u16string Element(const std::u16string& aDoc, const std::u16string& aName) {
  const std::u16string open = u"<" + aName + u">";
  const size_t from = aDoc.find(open);
  if (from == std::u16string::npos) return u"<missing>";
  const size_t to = aDoc.find(u"</" + aName + u">", from);
  return aDoc.substr(from + open.size(), to - from - open.size());
}
int HandleOf(const Library::Answer& a) { return std::stoi(ToUtf8(Element(a.output, u"Handle"))); }

class DriverLibraryTest : public ::testing::Test {
 protected:
  DriverLibraryTest() { std::setlocale(LC_ALL, "C"); }
  TempLogRoot root_;  // before the library: the application object reads it at load
  Library lib_{QVPA_TEST_LIBRARY};
};

TEST_F(DriverLibraryTest, HandlesCountUpAndAreNeverReused) {
  const int first = HandleOf(lib_.Call("OPEN", Open()));
  EXPECT_GE(first, 1);
  EXPECT_EQ(HandleOf(lib_.Call("OPEN", Open())), first + 1);
  const Library::Answer closed = lib_.Call("CLOSE", WithHandle(first));
  EXPECT_EQ(closed.result, 0);
  EXPECT_EQ(closed.output, u"<Error>False</Error>\r\n<ErrorText></ErrorText>\r\n<LogFileName></LogFileName>");
  EXPECT_TRUE(closed.error_null);
  EXPECT_EQ(HandleOf(lib_.Call("OPEN", Open())), first + 2);

  const Library::Answer again = lib_.Call("CLOSE", WithHandle(first));
  EXPECT_EQ(again.result, -1);
  EXPECT_EQ(again.error, u"Device Handle not found");
  const Library::Answer none = lib_.Call("CLOSE", u"<Request/>");
  EXPECT_EQ(none.result, -1);
  EXPECT_EQ(none.error, u"Payment Device has not previously opened");
}

TEST_F(DriverLibraryTest, FailedPaymentRendersTheResetState) {
  const Library::Answer a = lib_.Call("PAY", Open(u"NOPE", u"<Payment/>"));
  EXPECT_EQ(a.result, -1);
  EXPECT_EQ(a.error, u"Payment Driver [NOPE] not registered.");
  EXPECT_EQ(a.output,
            u"<DeviceId></DeviceId>\r\n<PaymentDateTime>1899-12-30T00:00:00</PaymentDateTime>\r\n"
            u"<PaymentNumber></PaymentNumber>\r\n<PaymentAmount>0</PaymentAmount>\r\n"
            u"<PaymentCurrency></PaymentCurrency>\r\n<ExchangeRate>0</ExchangeRate>\r\n"
            u"<PaymentAmountCurrency>0</PaymentAmountCurrency>\r\n"
            u"<PaymentCurrencyCurrency></PaymentCurrencyCurrency>\r\n<TippedAmount>0</TippedAmount>\r\n"
            u"<RemainingBalance>0</RemainingBalance>\r\n<MaskedPAN></MaskedPAN>\r\n"
            u"<SerialNumber></SerialNumber>\r\n<PaymentNetwork>other</PaymentNetwork>\r\n"
            u"<TransactionType>OTHER</TransactionType>\r\n<AuthCode></AuthCode>\r\n"
            u"<TraceAuditId></TraceAuditId>\r\n<NumberOfItems>0</NumberOfItems>\r\n"
            u"<SingleItemAmount>0</SingleItemAmount>\r\n<SignatureRequested>False</SignatureRequested>\r\n"
            u"<CustomerCountryCode></CustomerCountryCode>\r\n<CardToken></CardToken>\r\n"
            u"<RefundReference></RefundReference>\r\n<ReceiptText></ReceiptText>\r\n"
            u"<CashierReceiptText></CashierReceiptText>\r\n<Error>True</Error>\r\n"
            u"<ErrorText>Payment Driver [NOPE] not registered.</ErrorText>\r\n<LogFileName></LogFileName>");
}

TEST_F(DriverLibraryTest, ErrorTextEscapedInTheDocumentRawInTheMessage) {
  const int h = HandleOf(lib_.Call("OPEN", Open()));
  const Library::Answer a = lib_.Call(
      "PAY", WithHandle(h, u"<Payment><Attributes>fail:Fish &amp; Chips &lt;ok&gt;</Attributes></Payment>"));
  EXPECT_EQ(a.result, -1);
  EXPECT_EQ(Element(a.output, u"ErrorText"), u"Fish &amp; Chips &lt;ok&gt;");
  EXPECT_EQ(a.error, u"Fish & Chips <ok>");
}

TEST_F(DriverLibraryTest, SuccessfulPaymentThroughTheExport) {
  const int h = HandleOf(lib_.Call("OPEN", Open()));
  const Library::Answer a = lib_.Call(
      "PAY", WithHandle(h, u"<Payment><Reference>R9</Reference><Amount>12.50</Amount></Payment>"));
  EXPECT_EQ(a.result, 0);
  EXPECT_TRUE(a.error_null);
  EXPECT_EQ(Element(a.output, u"PaymentNumber"), u"R9");
  EXPECT_EQ(Element(a.output, u"PaymentAmount"), u"12.5");
  const std::filesystem::path log = ToUtf8(Element(a.output, u"LogFileName"));
  EXPECT_EQ(log.parent_path(), root_.PaymentLogs());
  EXPECT_EQ(log.filename().string().rfind("TEST_COM_L1_", 0), 0u) << log;
}

TEST_F(DriverLibraryTest, StatusAnswersWhateverTheRequest) {
  const std::u16string inputs[] = {u"", u"not xml at all", u"<a><b></a>", WithHandle(42)};
  for (const std::u16string& in : inputs) {
    const Library::Answer a = lib_.Call("GETSTATUS", in);
    EXPECT_EQ(a.result, 0) << ToUtf8(in);
    EXPECT_TRUE(a.error_null);
    EXPECT_EQ(std::count(a.output.begin(), a.output.end(), u'\n'), 13);
    EXPECT_EQ(Element(a.output, u"Error"), u"False");
  }
  EXPECT_EQ(lib_.Call("GETSTATUS", u"", true).result, 0);
}

TEST_F(DriverLibraryTest, VersionOfRegisteredDriversOnly) {
  const Library::Answer found = lib_.Call("VERSION", u"TEST_COM");
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.output, u"Version 1.03 - 23/08/2022");
  EXPECT_TRUE(found.error_null);
  for (const std::u16string& name : {std::u16string(u"test_com"), std::u16string(u" TEST_COM"),
                                     std::u16string(u"")}) {
    const Library::Answer missing = lib_.Call("VERSION", name);
    EXPECT_EQ(missing.result, 0);
    EXPECT_TRUE(missing.output_null) << ToUtf8(name);
    EXPECT_TRUE(missing.error_null);
  }
}

TEST_F(DriverLibraryTest, OutputsAreClearedWithoutBeingReleased) {
  // Strings the caller still owns: the export overwrites the variables with null and must
  // not free them (freeing them here afterwards would then be a double free).
  BSTR output = lib_.alloc_(u"stale output");
  BSTR error = lib_.alloc_(u"stale error");
  BSTR keep_output = output;
  BSTR keep_error = error;
  BSTR name = lib_.alloc_(u"unknown");
  EXPECT_EQ(lib_.Symbol<Export>("VERSION")(name, &output, &error), 0);
  EXPECT_EQ(output, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(std::u16string(keep_output), u"stale output");
  lib_.free_(keep_output);
  lib_.free_(keep_error);
  lib_.free_(name);
}

TEST_F(DriverLibraryTest, HostileRequestsEndAsErrorTexts) {
  std::u16string huge = u"<Request><Driver>";
  huge.append(10 * 1024 * 1024, u'x');
  huge += u"</Driver></Request>";
  std::u16string deep;
  for (int i = 0; i < 100000; ++i) deep += u"<a>";
  const std::u16string surrogate = u"<Request><Driver>\xD800</Driver></Request>";
  struct Case {
    const char* what;
    std::u16string request;
    bool null;
  } cases[] = {
      {"null", u"", true},          {"empty", u"", false},        {"not xml", u"hello", false},
      {"10 MB", huge, false},       {"deep", deep, false},        {"surrogate", surrogate, false},
      {"bad handle", u"<R><Handle>abc</Handle></R>", false},
      {"huge handle", u"<R><Handle>99999999999999</Handle></R>", false},
  };
  for (const char* op : {"OPEN", "CLOSE", "PAY", "REPRINT", "DAYCLOSE", "GETTOTALS", "VERIFYTRAN"}) {
    for (const Case& c : cases) {
      const Library::Answer a = lib_.Call(op, c.request, c.null);
      EXPECT_EQ(a.result, -1) << op << " " << c.what;
      EXPECT_FALSE(a.error.empty()) << op << " " << c.what;
      EXPECT_EQ(Element(a.output, u"Error"), u"True") << op << " " << c.what;
    }
  }
}

// Requests that are not well-formed, or not namespace-well-formed, XML: every operation
// refuses each with the parser's message before acting on it, and the library answers the
// next call as before.
TEST_F(DriverLibraryTest, MalformedRequestsAreRefusedWithTheParsersMessage) {
  const int h = HandleOf(lib_.Call("OPEN", Open()));
  // Each request fails before its handle is looked up.
  const std::u16string head = u"<Request><Handle>1</Handle><Payment>";
  const std::u16string tail = u"</Payment></Request>";
  // A PAY request whose Reference holds aText.
  const auto pay = [&](const std::u16string& aText) {
    return head + u"<Reference>" + aText + u"</Reference>" + tail;
  };
  std::u16string deep = u"<Request>";
  for (int i = 0; i < 1000; ++i) deep += u"<a>";
  struct Case {
    const char* what;
    std::u16string request;
    std::u16string error;
  } cases[] = {
      {"text after the root", pay(u"R1") + u"trailing junk",
       u"XML parse error: junk after document element at offset 81"},
      {"text before the root", u"junk" + pay(u"R1"),
       u"XML parse error: not well-formed (invalid token) at offset 4"},
      {"bare ampersand", pay(u"Fish & Chips"),
       u"XML parse error: not well-formed (invalid token) at offset 53"},
      {"undefined entity", pay(u"a&nbsp;b"),
       u"XML parse error: undefined entity at offset 48"},
      {"duplicate attribute", u"<Request a='1' a='2'/>",
       u"XML parse error: duplicate attribute at offset 15"},
      {"< in an attribute", u"<Request a='<'/>",
       u"XML parse error: not well-formed (invalid token) at offset 12"},
      {"]]> in text", pay(u"a]]>b"),
       u"XML parse error: not well-formed (invalid token) at offset 50"},
      {"literal U+0001", pay(u"a\u0001b"),
       u"XML parse error: not well-formed (invalid token) at offset 48"},
      {"literal U+FFFF", pay(u"a\uFFFFb"),
       u"XML parse error: not well-formed (invalid token) at offset 48"},
      {"literal U+FFFE", pay(u"a\uFFFEb"),
       u"XML parse error: not well-formed (invalid token) at offset 48"},
      {"reference to U+0001", pay(u"a&#1;b"),
       u"XML parse error: reference to invalid character number at offset 48"},
      {"undeclared prefix", u"<Request><y:Handle>1</y:Handle></Request>",
       u"XML parse error: unbound prefix at offset 9"},
      {"two colons", u"<Request><a:b:c xmlns:a='urn:x'/></Request>",
       u"XML parse error: not well-formed (invalid token) at offset 13"},
      {"duplicate expanded attribute",
       u"<Request xmlns:a='urn:x' xmlns:b='urn:x' a:n='1' b:n='2'/>",
       u"XML parse error: duplicate attribute at offset 0"},
      {"undeclared prefix binding", u"<Request xmlns:a=''/>",
       u"XML parse error: must not undeclare prefix at offset 0"},
      {"colon in a processing instruction target", u"<?a:b?>" + pay(u"R1"),
       u"XML parse error: not well-formed (invalid token) at offset 3"},
      {"comment in a value",
       u"<Request><Handle><!-- c -->1</Handle></Request>",
       u"Error in processing node Handle as integer.\r\n"
       u"Element \"Handle\" does not contain a single text node"},
      {"processing instruction in a value", u"<Request><Handle><?pi x?>1</Handle></Request>",
       u"Error in processing node Handle as integer.\r\n"
       u"Element \"Handle\" does not contain a single text node"},
      {"document type declaration", u"<!DOCTYPE Request [<!ENTITY e 'x'>]>" + pay(u"&e;"),
       u"XML parse error: document type declarations are not accepted at offset 18"},
      {"declaration not at the start", u" <?xml version='1.0'?>" + pay(u"R1"),
       u"XML parse error: XML or text declaration not at start of entity at offset 1"},
      {"XML version 2.0", u"<?xml version='2.0'?>" + pay(u"R1"),
       u"XML parse error: unsupported XML version at offset 0"},
      {"unpaired surrogate", pay(u"a\xD800"),
       u"Request contains an unpaired UTF-16 surrogate at offset 48"},
      {"truncated in a tag", pay(u"R1").substr(0, 50),
       u"XML parse error: unclosed token at offset 49"},
      {"truncated after a tag", pay(u"R1").substr(0, 61),
       u"XML parse error: no element found at offset 61"},
      {"truncated in a reference", pay(u"a&amp").substr(0, 51),
       u"XML parse error: unclosed token at offset 48"},
      {"crossed nesting", head + u"<Reference><Amount>1</Reference></Amount>" + tail,
       u"XML parse error: mismatched tag at offset 58"},
      {"unclosed nesting", deep, u"XML parse error: no element found at offset 3009"},
  };
  const Library::Answer status = lib_.Call("GETSTATUS", u"");
  for (const char* op : {"PAY", "OPEN", "CLOSE", "REPRINT", "DAYCLOSE", "GETTOTALS", "VERIFYTRAN"}) {
    for (const Case& c : cases) {
      const Library::Answer a = lib_.Call(op, c.request);
      EXPECT_EQ(a.result, -1) << op << " " << c.what;
      EXPECT_EQ(a.error, c.error) << op << " " << c.what;
      EXPECT_EQ(Element(a.output, u"Error"), u"True") << op << " " << c.what;
      const Library::Answer after = lib_.Call("GETSTATUS", u"");
      EXPECT_EQ(after.result, 0) << op << " " << c.what;
      EXPECT_EQ(after.output, status.output) << op << " " << c.what;
    }
  }
  // The open device still pays.
  const Library::Answer paid =
      lib_.Call("PAY", WithHandle(h, u"<Payment><Reference>R1</Reference></Payment>"));
  EXPECT_EQ(paid.result, 0) << qvpa::ToUtf8(paid.error);
  EXPECT_EQ(Element(paid.output, u"PaymentNumber"), u"R1");
}

TEST_F(DriverLibraryTest, NullOutputPointersAreSkipped) {
  BSTR request = lib_.alloc_(Open().c_str());
  EXPECT_EQ(lib_.Symbol<Export>("OPEN")(request, nullptr, nullptr), 0);
  EXPECT_EQ(lib_.Symbol<Export>("PAY")(nullptr, nullptr, nullptr), -1);
  lib_.free_(request);
}

TEST_F(DriverLibraryTest, ConcurrentCallsKeepTheTableWhole) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 100;
  std::vector<std::vector<int>> handles(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const Library::Answer open = lib_.Call("OPEN", Open());
        if (open.result != 0) { ++failures; continue; }
        const int h = HandleOf(open);
        handles[t].push_back(h);
        if (lib_.Call("PAY", WithHandle(h, u"<Payment/>")).result != 0) ++failures;
        if (lib_.Call("GETSTATUS", u"").result != 0) ++failures;
        if (lib_.Call("CLOSE", WithHandle(h)).result != 0) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  std::set<int> all;
  for (const auto& list : handles) {
    for (size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1], list[i]);
    all.insert(list.begin(), list.end());
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kRounds));
  EXPECT_EQ(*all.rbegin() - *all.begin() + 1, kThreads * kRounds);  // no gaps, no repeats
}

TEST_F(DriverLibraryTest, StringAllocator) {
  BSTR zeroed = lib_.alloc_len_(nullptr, 3);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(lib_.len_(zeroed), 3u);
  EXPECT_EQ(zeroed[0], 0);
  EXPECT_EQ(zeroed[2], 0);
  EXPECT_EQ(zeroed[3], 0);  // terminator
  EXPECT_EQ(reinterpret_cast<const uint32_t*>(zeroed)[-1], 6u);  // byte count before the text
  lib_.free_(zeroed);
  BSTR text = lib_.alloc_(u"h\u00e9llo");
  EXPECT_EQ(lib_.len_(text), 5u);
  EXPECT_EQ(std::u16string(text), u"h\u00e9llo");
  lib_.free_(text);
  EXPECT_EQ(lib_.alloc_(nullptr), nullptr);
  EXPECT_EQ(lib_.len_(nullptr), 0u);
  lib_.free_(nullptr);
  EXPECT_EQ(lib_.alloc_len_(u"x", 0x7FFFFFFFu), nullptr);  // does not fit the byte count
}

std::u16string OpenSatispay(const std::u16string& aConnectionType) {
  return u"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>P1</LogId><Connection><Type>" +
         aConnectionType +
         u"</Type></Connection><Parameters><KeyID>k</KeyID><Staging>true</Staging></Parameters>"
         u"</Request>";
}

class ProductLibraryTest : public ::testing::Test {
 protected:
  ProductLibraryTest() { std::setlocale(LC_ALL, "C"); }
  TempLogRoot root_;
};

TEST_F(ProductLibraryTest, CarriesOnlyItsOwnDriver) {
  Library lib(QVPA_PRODUCT_LIBRARY);
  const Library::Answer test = lib.Call("OPEN", Open());
  EXPECT_EQ(test.result, -1);
  EXPECT_EQ(test.error, u"Payment Driver [TEST_COM] not registered.");
  EXPECT_EQ(lib.Call("VERSION", u"QVPA_SATISPAY_10").output, u"Version 1.03 - 23/08/2022");
  EXPECT_TRUE(lib.Call("VERSION", u"qvpa_satispay_10").output_null);
  EXPECT_TRUE(lib.Call("VERSION", u"TEST_COM").output_null);
}

TEST_F(ProductLibraryTest, HandlesFromOneAfterLoad) {
  Library lib(QVPA_PRODUCT_LIBRARY);
  // The device needs the HTTP channel; a failed construction takes no handle.
  const Library::Answer wrong = lib.Call("OPEN", OpenSatispay(u"Com"));
  EXPECT_EQ(wrong.result, -1);
  EXPECT_EQ(wrong.error, u"Invalid class typecast");
  EXPECT_EQ(Element(wrong.output, u"Handle"), u"0");
  // Without a connection section the channel is the fiscal printer's: built, then refused.
  const Library::Answer no_connection = lib.Call(
      "OPEN", u"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>P1</LogId>"
              u"<Parameters><KeyID>k</KeyID></Parameters></Request>");
  EXPECT_EQ(no_connection.error, u"Invalid class typecast");
  EXPECT_EQ(HandleOf(lib.Call("OPEN", OpenSatispay(u"http"))), 1);
  EXPECT_EQ(HandleOf(lib.Call("OPEN", OpenSatispay(u"http"))), 2);
  EXPECT_EQ(lib.Call("CLOSE", WithHandle(1)).result, 0);
  EXPECT_EQ(HandleOf(lib.Call("OPEN", OpenSatispay(u"http"))), 3);
  EXPECT_EQ(lib.Call("CLOSE", WithHandle(1)).error, u"Device Handle not found");
}

TEST_F(ProductLibraryTest, UnloadClosesOpenDevices) {
  {
    Library lib(QVPA_PRODUCT_LIBRARY);
    const Library::Answer open = lib.Call("OPEN", OpenSatispay(u"http"));
    ASSERT_EQ(open.result, 0) << ToUtf8(open.error);
  }  // unloading destroys the device table and with it the device and its channel
  std::vector<std::filesystem::path> logs;
  for (const auto& entry : std::filesystem::directory_iterator(root_.PaymentLogs())) {
    logs.push_back(entry.path());
  }
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].filename().string().rfind("QVPA_SATISPAY_10_P1_", 0), 0u) << logs[0];
  const std::string text = ReadFile(logs[0]);
  const size_t start = text.find("*************************** START ***************************");
  const size_t stop = text.find("*************************** STOP ****************************");
  ASSERT_NE(start, std::string::npos) << text;
  ASSERT_NE(stop, std::string::npos) << text;
  EXPECT_LT(start, stop);
}

}  // namespace
