// The payment, day-close and totals sections of a payment request. Each Deserialize reads its
// section from the root element of a parsed request and throws EQVError when the section is
// missing or a value does not convert; fields read before the failure keep their values.
#ifndef QVPA_REQUEST_PAYMENT_SECTIONS_H_
#define QVPA_REQUEST_PAYMENT_SECTIONS_H_

#include <cstdint>
#include <string>
#include <utility>

#include "base/currency.h"
#include "payment/payment_defs.h"
#include "request/xml_document.h"

namespace qvpa {

// The Payment, Reprint or VerifyTran section (the first of them present, in that order).
class kPaymentReceipt {
 public:
  void Deserialize(const XmlDocument& aDocument);

  QvPaymentChannel PaymentChannel() const { return fPaymentChannel; }
  void SetPaymentChannel(QvPaymentChannel v) { fPaymentChannel = v; }
  qvPaymentAction Action() const { return fAction; }
  void SetAction(qvPaymentAction v) { fAction = v; }
  qvPaymentPhase Phase() const { return fPhase; }
  void SetPhase(qvPaymentPhase v) { fPhase = v; }
  const std::u16string& MerchantCode() const { return fMerchantCode; }
  void SetMerchantCode(std::u16string v) { fMerchantCode = std::move(v); }
  const std::u16string& StoreCode() const { return fStoreCode; }
  void SetStoreCode(std::u16string v) { fStoreCode = std::move(v); }
  const std::u16string& TillCode() const { return fTillCode; }
  void SetTillCode(std::u16string v) { fTillCode = std::move(v); }
  const std::u16string& Reference() const { return fReference; }
  void SetReference(std::u16string v) { fReference = std::move(v); }
  const std::u16string& ReceiptSubType() const { return fReceiptSubType; }
  void SetReceiptSubType(std::u16string v) { fReceiptSubType = std::move(v); }
  qvpa::Currency Amount() const { return fAmount; }
  void SetAmount(qvpa::Currency v) { fAmount = v; }
  const std::u16string& Currency() const { return fCurrency; }
  void SetCurrency(std::u16string v) { fCurrency = std::move(v); }
  qvpa::Currency TipAmount() const { return fTipAmount; }
  void SetTipAmount(qvpa::Currency v) { fTipAmount = v; }
  bool RequestTipAmount() const { return fRequestTipAmount; }
  void SetRequestTipAmount(bool v) { fRequestTipAmount = v; }
  const std::u16string& Attributes() const { return fAttributes; }
  void SetAttributes(std::u16string v) { fAttributes = std::move(v); }
  qvpa::Currency MaxAmount() const { return fMaxAmount; }
  void SetMaxAmount(qvpa::Currency v) { fMaxAmount = v; }
  int32_t MaxItems() const { return fMaxItems; }
  void SetMaxItems(int32_t v) { fMaxItems = v; }
  bool TokenizeCard() const { return fTokenizeCard; }
  void SetTokenizeCard(bool v) { fTokenizeCard = v; }
  const std::u16string& TokenReference() const { return fTokenReference; }
  void SetTokenReference(std::u16string v) { fTokenReference = std::move(v); }
  QvPrintLocation PrintLocation() const { return fPrintLocation; }
  void SetPrintLocation(QvPrintLocation v) { fPrintLocation = v; }
  int32_t ReceiptColCount() const { return fReceiptColCount; }
  void SetReceiptColCount(int32_t v) { fReceiptColCount = v; }
  const qvPaymentRefundReference& RefundReference() const { return fRefundReference; }
  void SetRefundReference(qvPaymentRefundReference v) { fRefundReference = std::move(v); }
  const std::u16string& OperatorId() const { return fOperatorId; }
  void SetOperatorId(std::u16string v) { fOperatorId = std::move(v); }
  const std::u16string& ReceiptId() const { return fReceiptId; }
  void SetReceiptId(std::u16string v) { fReceiptId = std::move(v); }

 private:
  QvPaymentChannel fPaymentChannel = QvPaymentChannel::pc_Standard;
  qvPaymentAction fAction = qvPaymentAction::Pay;
  qvPaymentPhase fPhase = qvPaymentPhase::None;
  std::u16string fMerchantCode;
  std::u16string fStoreCode;
  std::u16string fTillCode;
  std::u16string fReference;
  std::u16string fReceiptSubType;
  qvpa::Currency fAmount;
  std::u16string fCurrency;
  qvpa::Currency fTipAmount;
  bool fRequestTipAmount = false;
  std::u16string fAttributes;
  qvpa::Currency fMaxAmount;
  int32_t fMaxItems = 0;
  bool fTokenizeCard = false;
  std::u16string fTokenReference;
  QvPrintLocation fPrintLocation = QvPrintLocation::pl_ECR;
  int32_t fReceiptColCount = 32;
  qvPaymentRefundReference fRefundReference;
  std::u16string fOperatorId;
  std::u16string fReceiptId;
};

// Fields shared by the day-close and the totals sections; the section element differs.
class kPaymentSummarySection {
 public:
  virtual ~kPaymentSummarySection() = default;
  kPaymentSummarySection(const kPaymentSummarySection&) = delete;
  kPaymentSummarySection& operator=(const kPaymentSummarySection&) = delete;

  void Deserialize(const XmlDocument& aDocument);

  const std::u16string& StoreCode() const { return fStoreCode; }
  void SetStoreCode(std::u16string v) { fStoreCode = std::move(v); }
  const std::u16string& TillCode() const { return fTillCode; }
  void SetTillCode(std::u16string v) { fTillCode = std::move(v); }
  QvPrintLocation PrintLocation() const { return fPrintLocation; }
  void SetPrintLocation(QvPrintLocation v) { fPrintLocation = v; }
  const std::u16string& Reference() const { return fReference; }
  void SetReference(std::u16string v) { fReference = std::move(v); }

 protected:
  explicit kPaymentSummarySection(const char16_t* aSectionName) : fSectionName(aSectionName) {}

 private:
  const char16_t* fSectionName;
  std::u16string fStoreCode;
  std::u16string fTillCode;
  QvPrintLocation fPrintLocation = QvPrintLocation::pl_ECR;
  std::u16string fReference;
};

// The DayClose section.
class kPaymentDayClose : public kPaymentSummarySection {
 public:
  kPaymentDayClose() : kPaymentSummarySection(u"DayClose") {}
};

// The GetTotals section.
class kPaymentTotals : public kPaymentSummarySection {
 public:
  kPaymentTotals() : kPaymentSummarySection(u"GetTotals") {}
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_PAYMENT_SECTIONS_H_
