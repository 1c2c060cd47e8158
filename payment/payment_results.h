// The result records of the operations: what a device operation fills and a wrapper renders.
// Plain copyable values; a default-constructed record is the fresh state every device
// operation starts from (numbers and dates 0, texts empty, Booleans false, enumerations
// their first member).
#ifndef QVPA_PAYMENT_PAYMENT_RESULTS_H_
#define QVPA_PAYMENT_PAYMENT_RESULTS_H_

#include <cstdint>
#include <string>

#include "base/currency.h"
#include "base/date_time.h"
#include "payment/payment_defs.h"

namespace qvpa {

struct _int_OPEN_result {
  int32_t Handle = 0;
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_CLOSE_result {
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_PAY_result {
  std::u16string DeviceId;
  TDateTime PaymentDateTime = 0;
  std::u16string PaymentNumber;
  qvpa::Currency PaymentAmount;
  std::u16string PaymentCurrency;
  std::u16string MaskedPAN;
  std::u16string SerialNumber;
  qvPaymentTransactionType TransactionType = qvPaymentTransactionType::ptt_Chip;
  qvPaymentNetwork PaymentNetwork = qvPaymentNetwork::Bank;
  std::u16string AuthCode;
  std::u16string TraceAuditId;
  qvpa::Currency ExchangeRate;
  qvpa::Currency PaymentAmountCurrency;
  std::u16string PaymentCurrencyCurrency;
  qvpa::Currency TippedAmount;
  qvpa::Currency RemainingBalance;
  int32_t NumberOfItems = 0;
  qvpa::Currency SingleItemAmount;
  bool SignatureRequested = false;
  std::u16string CustomerCountryCode;
  std::u16string CardToken;
  std::u16string RefundReference;
  std::u16string ReceiptText;         // lines joined by CR LF
  std::u16string CashierReceiptText;
  std::u16string RawResponse;         // kept for the driver, never rendered
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_REPRINT_result {
  std::u16string ReceiptText;
  std::u16string CashierReceiptText;
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_GETSTATUS_result {
  bool DayOpened = false;
  TDateTime DateTime = 0;
  bool PaperEnd = false;
  bool PaperNearEnd = false;
  bool CoverOpen = false;
  bool FiscalReceiptOpen = false;
  bool ReceiptOpen = false;
  bool TrainingMode = false;
  std::u16string FirmwareVersion;
  std::u16string SerialNumber;
  std::u16string FiscalMode;
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_DAYCLOSE_result {
  std::u16string DeviceId;
  TDateTime ClosureDateTime = 0;
  std::u16string ClosureNumber;
  int32_t TransactionsCount = 0;
  qvpa::Currency TotalAmount;
  std::u16string Currency;
  std::u16string ReceiptText;
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

struct _int_GETTOTALS_result {
  std::u16string DeviceId;
  TDateTime DateTime = 0;
  int32_t TransactionsCount = 0;
  qvpa::Currency TotalAmount;
  std::u16string Currency;
  std::u16string ReceiptText;
  bool Error = false;
  std::u16string ErrorText;
  std::u16string LogFileName;
};

}  // namespace qvpa

#endif  // QVPA_PAYMENT_PAYMENT_RESULTS_H_
