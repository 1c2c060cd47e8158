#include "request/payment_sections.h"

#include <string_view>

#include "base/error.h"
#include "request/rpt_util.h"

namespace qvpa {
namespace {

// A keyword element: the text must equal one keyword exactly (case-sensitive, untrimmed);
// empty or missing gives the first member.
template <typename Enum, size_t N>
Enum ReadKeyword(XmlNode aSection, std::u16string_view aNodeName,
                 const std::pair<std::u16string_view, Enum> (&aKeywords)[N], Enum aDefault,
                 std::u16string_view aMessagePrefix, std::u16string_view aAllowed) {
  const std::u16string text = krptUtil::GetNodeValueAsString(aSection, aNodeName);
  if (text.empty()) return aDefault;
  for (const auto& [keyword, member] : aKeywords) {
    if (text == keyword) return member;
  }
  std::u16string message(aMessagePrefix);
  message.append(text).append(u" invalid. Allowed values are: ").append(aAllowed).append(u".");
  throw EQVError(std::move(message));
}

QvPrintLocation ReadPrintLocation(XmlNode aSection) {
  static constexpr std::pair<std::u16string_view, QvPrintLocation> kKeywords[] = {
      {u"ECR", QvPrintLocation::pl_ECR}, {u"EFT", QvPrintLocation::pl_EFT}};
  return ReadKeyword(aSection, u"PrintLocation", kKeywords, QvPrintLocation::pl_ECR,
                     u"Payment Location ", u"ECR,EFT");
}

QvPaymentChannel ReadPaymentChannel(XmlNode aSection) {
  static constexpr std::pair<std::u16string_view, QvPaymentChannel> kKeywords[] = {
      {u"STD", QvPaymentChannel::pc_Standard},
      {u"MVP", QvPaymentChannel::pc_MealVoucherProvider},
      {u"NHS", QvPaymentChannel::pc_NationalHealthService}};
  return ReadKeyword(aSection, u"PaymentChannel", kKeywords, QvPaymentChannel::pc_Standard,
                     u"Payment Channel ", u"STD,MVP,NHS");
}

qvPaymentAction ReadAction(XmlNode aSection) {
  // VOID is accepted although the message names only the first two.
  static constexpr std::pair<std::u16string_view, qvPaymentAction> kKeywords[] = {
      {u"PAY", qvPaymentAction::Pay},
      {u"REFUND", qvPaymentAction::Refund},
      {u"VOID", qvPaymentAction::Void}};
  return ReadKeyword(aSection, u"Action", kKeywords, qvPaymentAction::Pay, u"Action ",
                     u"PAY,REFUND");
}

qvPaymentPhase ReadPhase(XmlNode aSection) {
  static constexpr std::pair<std::u16string_view, qvPaymentPhase> kKeywords[] = {
      {u"NONE", qvPaymentPhase::None},
      {u"DO", qvPaymentPhase::Do},
      {u"BEGIN", qvPaymentPhase::Begin},
      {u"COMMIT", qvPaymentPhase::Commit},
      {u"ROLLBACK", qvPaymentPhase::Rollback}};
  return ReadKeyword(aSection, u"Phase", kKeywords, qvPaymentPhase::None, u"Phase ",
                     u"BEGIN,DO,COMMIT,ROLLBACK");
}

}  // namespace

void kPaymentReceipt::Deserialize(const XmlDocument& aDocument) {
  using U = krptUtil;
  const XmlNode root = aDocument.DocumentElement();
  XmlNode section = U::FindChild(root, u"Payment");
  if (!section) section = U::FindChild(root, u"Reprint");
  if (!section) section = U::FindChild(root, u"VerifyTran");
  if (!section) throw EQVError(u"Payment/Reprint/VerifyTran node not found");

  fMerchantCode = U::GetNodeValueAsString(section, u"MerchantCode");
  fStoreCode = U::GetNodeValueAsString(section, u"StoreCode");
  fTillCode = U::GetNodeValueAsString(section, u"TillCode");
  fReference = U::GetNodeValueAsString(section, u"Reference");
  fReceiptSubType = U::GetNodeValueAsString(section, u"ReceiptSubType");
  fAmount = U::GetNodeValueAsCurrency(section, u"Amount");
  fCurrency = U::GetNodeValueAsString(section, u"Currency");
  fTipAmount = U::GetNodeValueAsCurrency(section, u"TipAmount");
  fRequestTipAmount = U::GetNodeValueAsBoolean(section, u"RequestTipAmount", false);
  fAttributes = U::GetNodeValueAsString(section, u"Attributes");
  fMaxItems = U::GetNodeValueAsInteger(section, u"MaxItems");
  fMaxAmount = U::GetNodeValueAsCurrency(section, u"MaxAmount");
  fTokenizeCard = U::GetNodeValueAsBoolean(section, u"TokenizeCard", false);
  fTokenReference = U::GetNodeValueAsString(section, u"TokenReference");
  if (const int32_t columns = U::GetNodeValueAsInteger(section, u"ReceiptColCount"); columns > 0) {
    fReceiptColCount = columns;
  }
  fPrintLocation = ReadPrintLocation(section);
  fPaymentChannel = ReadPaymentChannel(section);
  fAction = ReadAction(section);
  fPhase = ReadPhase(section);
  fOperatorId = U::GetNodeValueAsString(section, u"OperatorId");
  if (const XmlNode refund = U::FindChild(section, u"RefundReference")) {
    fRefundReference.PaymentNumber = U::GetNodeValueAsString(refund, u"PaymentId");
    fRefundReference.PaymentDateTime = U::GetNodeValueAsDateTime(refund, u"PaymentDateTime");
  }
  fReceiptId = U::GetNodeValueAsString(section, u"ReceiptId");
}

void kPaymentSummarySection::Deserialize(const XmlDocument& aDocument) {
  using U = krptUtil;
  const XmlNode section = U::FindChild(aDocument.DocumentElement(), fSectionName);
  if (!section) throw EQVError(std::u16string(fSectionName) + u" node not found");
  fStoreCode = U::GetNodeValueAsString(section, u"StoreCode");
  fTillCode = U::GetNodeValueAsString(section, u"TillCode");
  fPrintLocation = ReadPrintLocation(section);
  fReference = U::GetNodeValueAsString(section, u"Reference");
}

}  // namespace qvpa
