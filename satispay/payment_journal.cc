#include "satispay/payment_journal.h"

#include <sqlite3.h>

#include <utility>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS payments ("
    " idempotency_key TEXT PRIMARY KEY,"
    " reference TEXT NOT NULL,"
    " amount_raw INTEGER NOT NULL,"
    " currency TEXT NOT NULL,"
    " begun_ms INTEGER NOT NULL,"
    " time_limit_ms INTEGER NOT NULL,"
    " device TEXT NOT NULL,"
    " payment_id TEXT NOT NULL DEFAULT '',"
    " status TEXT NOT NULL DEFAULT '',"
    " updated_ms INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS payments_by_reference ON payments(reference, begun_ms);"
    "CREATE INDEX IF NOT EXISTS payments_by_id ON payments(payment_id);";

void Bind(sqlite3_stmt* aStatement, int aIndex, const std::u16string& aText) {
  const std::string text = ToUtf8(aText);
  sqlite3_bind_text(aStatement, aIndex, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::u16string Column(sqlite3_stmt* aStatement, int aIndex) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(aStatement, aIndex));
  return text == nullptr ? std::u16string() : FromUtf8(text);
}

}  // namespace

void PaymentJournal::Closer::operator()(sqlite3* aDb) const { sqlite3_close_v2(aDb); }
void PaymentJournal::Finalizer::operator()(sqlite3_stmt* aStatement) const { sqlite3_finalize(aStatement); }

PaymentJournal::PaymentJournal(Key, sqlite3* aDb, std::u16string aFile) : fDb(aDb), fFile(std::move(aFile)) {}

PaymentJournal::~PaymentJournal() = default;

int64_t PaymentJournal::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::u16string PaymentJournal::FileFor(const std::u16string& aFolder, const std::u16string& aKeyId) {
  std::u16string name = u"QVPA_SATISPAY_10_Journal_";
  for (const char16_t c : aKeyId) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                       c == u'-' || c == u'_';
    name.push_back(plain ? c : u'_');
  }
  return aFolder + name + u".db";
}

std::unique_ptr<PaymentJournal> PaymentJournal::Open(const std::u16string& aFile) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(ToUtf8(aFile).c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  std::unique_ptr<sqlite3, Closer> db(raw);
  if (rc != SQLITE_OK) {
    const char* reason = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
    throw EQVError(u"Payment journal " + aFile + u": " + FromUtf8(reason));
  }
  auto journal = std::make_unique<PaymentJournal>(Key(), db.release(), aFile);
  // Another device or process may hold the write lock for a moment.
  sqlite3_busy_timeout(journal->fDb.get(), 5000);
  journal->Exec("PRAGMA journal_mode=WAL");
  journal->Exec("PRAGMA synchronous=FULL");
  journal->Exec(kSchema);
  journal->Prune(NowMs() - std::chrono::duration_cast<std::chrono::milliseconds>(kKeep).count());
  return journal;
}

void PaymentJournal::Fail(const char* aWhat) const {
  throw EQVError(u"Payment journal " + fFile + u": " + FromUtf8(aWhat) + u": " +
                 FromUtf8(sqlite3_errmsg(fDb.get())));
}

PaymentJournal::Statement PaymentJournal::Prepare(const char* aSql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(fDb.get(), aSql, -1, &raw, nullptr) != SQLITE_OK) Fail("prepare");
  return Statement(raw);
}

void PaymentJournal::Exec(const char* aSql) {
  if (sqlite3_exec(fDb.get(), aSql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(aSql);
}

void PaymentJournal::RecordBegin(const JournalEntry& aEntry) {
  const Statement statement = Prepare("INSERT OR REPLACE INTO payments (idempotency_key, reference, amount_raw, currency,"
                         " begun_ms, time_limit_ms, device, payment_id, status, updated_ms)"
                         " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  sqlite3_stmt* raw = statement.get();
  Bind(raw, 1, aEntry.idempotency_key);
  Bind(raw, 2, aEntry.reference);
  sqlite3_bind_int64(raw, 3, aEntry.amount_raw);
  Bind(raw, 4, aEntry.currency);
  sqlite3_bind_int64(raw, 5, aEntry.begun_ms);
  sqlite3_bind_int64(raw, 6, aEntry.time_limit_ms);
  Bind(raw, 7, aEntry.device);
  Bind(raw, 8, aEntry.payment_id);
  Bind(raw, 9, aEntry.status);
  sqlite3_bind_int64(raw, 10, NowMs());
  if (sqlite3_step(raw) != SQLITE_DONE) Fail("record the payment");
}

void PaymentJournal::RecordAnswer(const std::u16string& aIdempotencyKey, const std::u16string& aPaymentId,
                                  const std::u16string& aStatus) {
  const Statement statement = Prepare("UPDATE payments SET payment_id = ?2, status = ?3, updated_ms = ?4"
                         " WHERE idempotency_key = ?1");
  sqlite3_stmt* raw = statement.get();
  Bind(raw, 1, aIdempotencyKey);
  Bind(raw, 2, aPaymentId);
  Bind(raw, 3, aStatus);
  sqlite3_bind_int64(raw, 4, NowMs());
  if (sqlite3_step(raw) != SQLITE_DONE) Fail("record the answer");
}

void PaymentJournal::RecordStatus(const std::u16string& aPaymentId, const std::u16string& aStatus) {
  if (aPaymentId.empty()) return;
  const Statement statement = Prepare("UPDATE payments SET status = ?2, updated_ms = ?3 WHERE payment_id = ?1");
  sqlite3_stmt* raw = statement.get();
  Bind(raw, 1, aPaymentId);
  Bind(raw, 2, aStatus);
  sqlite3_bind_int64(raw, 3, NowMs());
  if (sqlite3_step(raw) != SQLITE_DONE) Fail("record the status");
}

std::optional<JournalEntry> PaymentJournal::Latest(const std::u16string& aReference) {
  const Statement statement = Prepare("SELECT idempotency_key, reference, amount_raw, currency, begun_ms, time_limit_ms,"
                         " device, payment_id, status FROM payments WHERE reference = ?1"
                         " ORDER BY begun_ms DESC, rowid DESC LIMIT 1");
  sqlite3_stmt* raw = statement.get();
  Bind(raw, 1, aReference);
  const int rc = sqlite3_step(raw);
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) Fail("read");
  JournalEntry entry;
  entry.idempotency_key = Column(raw, 0);
  entry.reference = Column(raw, 1);
  entry.amount_raw = sqlite3_column_int64(raw, 2);
  entry.currency = Column(raw, 3);
  entry.begun_ms = sqlite3_column_int64(raw, 4);
  entry.time_limit_ms = sqlite3_column_int64(raw, 5);
  entry.device = Column(raw, 6);
  entry.payment_id = Column(raw, 7);
  entry.status = Column(raw, 8);
  return entry;
}

int64_t PaymentJournal::Prune(int64_t aBeforeMs) {
  const Statement statement = Prepare("DELETE FROM payments WHERE begun_ms < ?1");
  sqlite3_stmt* raw = statement.get();
  sqlite3_bind_int64(raw, 1, aBeforeMs);
  if (sqlite3_step(raw) != SQLITE_DONE) Fail("prune");
  return sqlite3_changes64(fDb.get());
}

}  // namespace qvpa
