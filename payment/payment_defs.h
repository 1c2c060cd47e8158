// The payment vocabulary shared by requests, result records and drivers.
#ifndef QVPA_PAYMENT_PAYMENT_DEFS_H_
#define QVPA_PAYMENT_PAYMENT_DEFS_H_

#include <cstdint>
#include <initializer_list>
#include <string>

#include "base/date_time.h"

namespace qvpa {

enum class qvPaymentNetwork : uint8_t {
  Bank, Cheque, Visa, Amex, Mastercard, JCB, CUP, Diners, Maestro, NHS, Edenred, Day, Sodexo,
  Pellegrini, BluTicket, Jakala, MIGLunch, AliPay, Discover, Doku, DragonPay, MolPay, VPay,
  AmazonPay, ApplePay, SamsungPay, Paypal, Yandex, QuiTicket, Repas, Ristomat, Agape, LunchTime,
  QuiWelfare, EP, CIR, Gemeaz, Satispay, Jiffy, Bitcoin, Tinaba, Scalapay, Nexi, Other
};

// How the card or means of payment was read.
enum class qvPaymentTransactionType : uint8_t {
  ptt_Chip, ptt_MagStripe, ptt_Manual, ptt_Cless, ptt_ClessMagStripe, ptt_ClessChip, ptt_RFID,
  ptt_Other
};

enum class QvPaymentChannel : uint8_t { pc_Standard, pc_MealVoucherProvider, pc_NationalHealthService };
enum class qvPaymentAction : uint8_t { Pay, Refund, Void };
enum class qvPaymentPhase : uint8_t { None, Begin, Do, Commit, Rollback };
enum class QvPrintLocation : uint8_t { pl_ECR, pl_EFT };

enum class qvPaymentHandlerDocumentType : uint8_t {
  dt_Open, dt_Pay, dt_PayReprint, dt_DayClose, dt_GetTotals, dt_VerifyTran
};

// A set of request document types (bit n for ordinal n).
class qvPaymentHandlerDocumentTypes {
 public:
  constexpr qvPaymentHandlerDocumentTypes() = default;
  constexpr qvPaymentHandlerDocumentTypes(std::initializer_list<qvPaymentHandlerDocumentType> types) {
    for (auto t : types) bits_ = static_cast<uint8_t>(bits_ | Bit(t));
  }
  constexpr bool Contains(qvPaymentHandlerDocumentType t) const { return (bits_ & Bit(t)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }

 private:
  static constexpr uint8_t Bit(qvPaymentHandlerDocumentType t) {
    return static_cast<uint8_t>(1u << static_cast<unsigned>(t));
  }
  uint8_t bits_ = 0;
};

// The payment to be refunded, as the host quotes it.
struct qvPaymentRefundReference {
  TDateTime PaymentDateTime = 0;
  std::u16string PaymentNumber;
};

// Result-document texts; values outside the enumeration give "unrecognized" and "".
std::u16string EncodePaymentNetwork(qvPaymentNetwork value);
std::u16string EncodeTransactionType(qvPaymentTransactionType value);

}  // namespace qvpa

#endif  // QVPA_PAYMENT_PAYMENT_DEFS_H_
