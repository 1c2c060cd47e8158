#include "satispay/payment_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

class PaymentJournalTest : public ::testing::Test {
 protected:
  PaymentJournalTest()
      : folder_(std::filesystem::temp_directory_path() /
                ("qvpa-journal-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    file_ = FromUtf8((folder_ / "journal.db").string());
  }
  ~PaymentJournalTest() override { std::filesystem::remove_all(folder_); }

  static JournalEntry Entry(const std::u16string& aReference, const std::u16string& aKey, int64_t aBegunMs) {
    JournalEntry entry;
    entry.reference = aReference;
    entry.amount_raw = 125000;
    entry.currency = u"EUR";
    entry.idempotency_key = aKey;
    entry.begun_ms = aBegunMs;
    entry.time_limit_ms = 30000;
    entry.device = u"POS1#1";
    return entry;
  }

  std::filesystem::path folder_;
  std::u16string file_;
};

// A BEGIN, its answer, then DO's status: the newest entry of a reference carries all three,
// and another connection (another device or process) reads them at once.
TEST_F(PaymentJournalTest, EntriesFollowThePaymentAcrossConnections) {
  auto journal = PaymentJournal::Open(file_);
  const int64_t now = PaymentJournal::NowMs();
  journal->RecordBegin(Entry(u"REF-1", u"key-old", now - 60000));
  journal->RecordAnswer(u"key-old", u"id-old", u"CANCELED");
  journal->RecordBegin(Entry(u"REF-1", u"key-new", now));
  journal->RecordBegin(Entry(u"REF-2", u"key-2", now));

  auto other = PaymentJournal::Open(file_);
  std::optional<JournalEntry> latest = other->Latest(u"REF-1");
  ASSERT_TRUE(latest);
  EXPECT_EQ(latest->idempotency_key, u"key-new");
  EXPECT_EQ(latest->payment_id, u"");  // begun, not answered yet
  EXPECT_EQ(latest->amount_raw, 125000);
  EXPECT_EQ(latest->time_limit_ms, 30000);
  EXPECT_EQ(latest->device, u"POS1#1");

  journal->RecordAnswer(u"key-new", u"id-new", u"PENDING");
  journal->RecordStatus(u"id-new", u"ACCEPTED");
  latest = other->Latest(u"REF-1");
  ASSERT_TRUE(latest);
  EXPECT_EQ(latest->payment_id, u"id-new");
  EXPECT_EQ(latest->status, u"ACCEPTED");
  EXPECT_FALSE(other->Latest(u"ref-1"));  // references are compared exactly
  EXPECT_EQ(other->Latest(u"REF-2")->payment_id, u"");
}

// Entries older than the search window go, at opening and on demand.
TEST_F(PaymentJournalTest, OldEntriesArePruned) {
  const int64_t now = PaymentJournal::NowMs();
  const int64_t keep = std::chrono::duration_cast<std::chrono::milliseconds>(PaymentJournal::kKeep).count();
  {
    auto journal = PaymentJournal::Open(file_);
    journal->RecordBegin(Entry(u"OLD", u"k1", now - keep - 1000));
    journal->RecordBegin(Entry(u"RECENT", u"k2", now - keep + 60000));
  }
  auto journal = PaymentJournal::Open(file_);
  EXPECT_FALSE(journal->Latest(u"OLD"));
  EXPECT_TRUE(journal->Latest(u"RECENT"));
  EXPECT_EQ(journal->Prune(now), 1);
  EXPECT_FALSE(journal->Latest(u"RECENT"));
}

// Four devices writing at once through their own connections lose nothing.
TEST_F(PaymentJournalTest, ConcurrentDevicesLoseNoEntry) {
  PaymentJournal::Open(file_);  // created once, as the first device would
  std::vector<std::thread> devices;
  std::vector<std::string> failures(4);
  for (int d = 0; d < 4; ++d) {
    devices.emplace_back([&, d] {
      try {
        auto journal = PaymentJournal::Open(file_);
        for (int i = 0; i < 25; ++i) {
          const std::u16string key = FromUtf8("k" + std::to_string(d) + "-" + std::to_string(i));
          journal->RecordBegin(Entry(FromUtf8("R" + std::to_string(d) + "-" + std::to_string(i)), key,
                                     PaymentJournal::NowMs()));
          journal->RecordAnswer(key, u"id-" + key, u"PENDING");
        }
      } catch (const EQVError& e) {
        failures[d] = ToUtf8(e.Message());
      }
    });
  }
  for (std::thread& t : devices) t.join();
  for (const std::string& f : failures) EXPECT_EQ(f, "");
  auto journal = PaymentJournal::Open(file_);
  for (int d = 0; d < 4; ++d) {
    for (int i = 0; i < 25; ++i) {
      const std::string n = std::to_string(d) + "-" + std::to_string(i);
      const auto entry = journal->Latest(FromUtf8("R" + n));
      ASSERT_TRUE(entry) << n;
      EXPECT_EQ(entry->payment_id, FromUtf8("id-k" + n));
    }
  }
}

// What cannot be a journal is refused with the file and SQLite's reason.
TEST_F(PaymentJournalTest, UnusableFilesAreRefusedWithTheReason) {
  const struct {
    const char* name;
    void (*make)(const std::filesystem::path&);
    const char* reason;
  } cases[] = {
      {"text.db", [](const std::filesystem::path& p) { std::ofstream(p) << std::string(8192, 'x'); },
       "file is not a database"},
      {"folder.db", [](const std::filesystem::path& p) { std::filesystem::create_directories(p); },
       "unable to open database file"},
      {"missing/journal.db", [](const std::filesystem::path&) {}, "unable to open database file"},
  };
  for (const auto& c : cases) {
    const std::filesystem::path path = folder_ / c.name;
    c.make(path);
    try {
      PaymentJournal::Open(FromUtf8(path.string()));
      ADD_FAILURE() << c.name << " opened";
    } catch (const EQVError& e) {
      const std::string message = ToUtf8(e.Message());
      EXPECT_EQ(message.rfind("Payment journal " + path.string() + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
  }
}

TEST(PaymentJournalFileTest, NamedAfterTheKeyWithUnsafeCharactersReplaced) {
  EXPECT_EQ(PaymentJournal::FileFor(u"/logs/", u"2x3z-ab_9"), u"/logs/QVPA_SATISPAY_10_Journal_2x3z-ab_9.db");
  EXPECT_EQ(PaymentJournal::FileFor(u"/logs/", u"../a b\\c"), u"/logs/QVPA_SATISPAY_10_Journal____a_b_c.db");
}

}  // namespace
}  // namespace qvpa
