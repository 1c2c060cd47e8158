// PaymentJournal: the payments this shop key began, kept on disk in an SQLite file beside the
// device logs, so that a verification after a time-out, a dropped connection or a restart of
// the host knows what was sent and, once answered, the payment's id. Every write is durable
// when it returns (write-ahead log, synchronous=FULL). Devices and processes share the file
// through SQLite's own locking; each device holds its own connection.
#ifndef QVPA_SATISPAY_PAYMENT_JOURNAL_H_
#define QVPA_SATISPAY_PAYMENT_JOURNAL_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace qvpa {

struct JournalEntry {
  std::u16string reference;        // the external_code sent with the payment
  int64_t amount_raw = 0;          // Currency::Raw() of the amount
  std::u16string currency;
  std::u16string idempotency_key;  // the creation's key: the entry's identity
  int64_t begun_ms = 0;            // Unix milliseconds, just before the request left
  int64_t time_limit_ms = 0;       // the request's time limit
  std::u16string device;           // who began it: log id and handle
  std::u16string payment_id;       // empty until the service answered
  std::u16string status;           // the last status the service gave
};

class PaymentJournal {
 public:
  // How long entries are kept: the verification's search window.
  static constexpr std::chrono::hours kKeep{48};

  // Opens or creates the journal at aFile (UTF-16 path) and prunes entries older than
  // kKeep. Throws EQVError "Payment journal <file>: <reason>" when it cannot.
  static std::unique_ptr<PaymentJournal> Open(const std::u16string& aFile);
  // "<folder>QVPA_SATISPAY_10_Journal_<key id>.db", the key id's characters other than
  // letters, digits, '-' and '_' replaced by '_'.
  static std::u16string FileFor(const std::u16string& aFolder, const std::u16string& aKeyId);

  // Made by Open only (the key is private).
  struct Key {
   private:
    friend class PaymentJournal;
    Key() = default;
  };
  PaymentJournal(Key, sqlite3* aDb, std::u16string aFile);
  ~PaymentJournal();
  PaymentJournal(const PaymentJournal&) = delete;
  PaymentJournal& operator=(const PaymentJournal&) = delete;

  // Each write throws EQVError with SQLite's reason when it did not reach the disk.
  void RecordBegin(const JournalEntry& aEntry);
  void RecordAnswer(const std::u16string& aIdempotencyKey, const std::u16string& aPaymentId,
                    const std::u16string& aStatus);
  void RecordStatus(const std::u16string& aPaymentId, const std::u16string& aStatus);
  // The newest entry for aReference, if any.
  std::optional<JournalEntry> Latest(const std::u16string& aReference);
  // Removes entries begun before aBeforeMs (Unix milliseconds); returns how many.
  int64_t Prune(int64_t aBeforeMs);

  static int64_t NowMs();

 private:
  struct Closer {
    void operator()(sqlite3* aDb) const;
  };
  struct Finalizer {
    void operator()(sqlite3_stmt* aStatement) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;
  // A prepared statement of aSql; throws EQVError with SQLite's reason.
  Statement Prepare(const char* aSql);
  [[noreturn]] void Fail(const char* aWhat) const;
  void Exec(const char* aSql);

  std::unique_ptr<sqlite3, Closer> fDb;
  std::u16string fFile;
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_PAYMENT_JOURNAL_H_
