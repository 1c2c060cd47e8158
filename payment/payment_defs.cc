#include "payment/payment_defs.h"

#include <array>

namespace qvpa {

std::u16string EncodePaymentNetwork(qvPaymentNetwork value) {
  static constexpr std::array<const char16_t*, 44> kTexts = {
      u"bank", u"cheque", u"visa", u"amex", u"mastercard", u"jcb", u"cup", u"diners",
      u"maestro", u"NHS", u"edenred", u"day", u"sodexo", u"pellegrini", u"bluticket", u"jakala",
      u"miglunch", u"alipay", u"discover", u"doku", u"dragonpay", u"molpay", u"vpay",
      u"amazonpay", u"applepay", u"samsungpay", u"paypal", u"yandex", u"quiticket", u"repas",
      u"ristomat", u"agape", u"lunchtime", u"quiwelfare", u"ep", u"cir", u"gemeaz", u"satispay",
      u"jiffy", u"bitcoin", u"tinaba", u"scalapay", u"unrecognized", u"other"};
  const auto i = static_cast<size_t>(value);
  return i < kTexts.size() ? kTexts[i] : u"unrecognized";
}

std::u16string EncodeTransactionType(qvPaymentTransactionType value) {
  static constexpr std::array<const char16_t*, 8> kTexts = {
      u"CHIP", u"MAGSTRIPE", u"MANUAL", u"CLESS", u"CLESSMAGSTRIPE", u"CLESSCHIP", u"", u"OTHER"};
  const auto i = static_cast<size_t>(value);
  return i < kTexts.size() ? kTexts[i] : u"";
}

}  // namespace qvpa
