// The receipt vocabulary of the framework's receipt and journal requests; ordinals are fixed.
#ifndef QVPA_REQUEST_RECEIPT_DEFS_H_
#define QVPA_REQUEST_RECEIPT_DEFS_H_

#include <cstdint>

namespace qvpa {

enum class qvReceiptMessageLineAlignment : uint8_t { la_none, la_right, la_center, la_left };
enum class qvReceiptMessageBarcodeType : uint8_t {
  bt_EAN13, bt_EAN8, bt_CODE39, bt_CODE128, bt_QRCODE, bt_UPCA, bt_UPCE, bt_Interleaved2Of5
};
enum class qvReceiptLineType : uint8_t {
  rlt_ProductSale, rlt_ProductReturn, rlt_WeightedProductSale, rlt_VoucherSale,
  rlt_VoucherRedeem, rlt_GiftCardSale, rlt_GiftCardRedeem, rlt_SubTotal, rlt_Text,
  rlt_DiscountAmount, rlt_DiscountPercentage, rlt_DiscountAmountOnSubtotal,
  rlt_DiscountPercentageOnSubTotal, rlt_MarkupAmount, rlt_MarkupPercentage,
  rlt_MarkupAmountOnSubtotal, rlt_MarkupPercentageOnSubTotal, rlt_CollectAmount
};
enum class qvReceiptPaymentType : uint8_t {
  rpt_Cash, rpt_Cheque, rpt_CreditCard, rpt_DebitCard, rpt_Credit, rpt_CreditOnProducts,
  rpt_CreditOnServices, Rpt_GiftCard, Rpt_Voucher, Rpt_MealVoucher, Rpt_NHSCard, Rpt_Change
};
enum class qvReceiptType : uint8_t {
  rt_Sale, rt_Refund, rt_Void, rt_InvoiceSale, rt_InvoiceSaleFromReceipt
};
enum class qvReceiptReferenceType : uint8_t {
  rrt_OriginalReceipt, rrt_EFTReceipt, rrt_NotAvailable, rrt_Empties
};
enum class qvReceiptMessageLineEffect : uint8_t {
  le_bold, le_italic, le_underline, le_doubleheight, le_doublewidth, le_doublesize,
  le_invertcolors, le_condensed
};
enum class qvReceiptMessageImageSource : uint8_t { is_Resource, is_FileSystem };
enum class qvEJReportDestination : uint8_t { rd_Printer, rd_Memory };
enum class qvEJReportType : uint8_t {
  ejrt_ZReport, ejrt_FiscalReceipt, ejrt_NonFiscalReceipt, ejrt_CreditNote, ejrt_Invoice
};
enum class qvEJFilesRequestType : uint8_t { ej_xml };
enum class qvReceiptTaxType : uint8_t { tt_VAT, tt_SalesTax };
enum class qvReceiptLineAttribute : uint8_t { rla_Product, rla_Service };

// A set of line effects (bit n for ordinal n).
class qvReceiptMessageLineEffectSet {
 public:
  constexpr qvReceiptMessageLineEffectSet() = default;
  constexpr void Include(qvReceiptMessageLineEffect e) {
    bits_ = static_cast<uint8_t>(bits_ | Bit(e));
  }
  constexpr bool Contains(qvReceiptMessageLineEffect e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(qvReceiptMessageLineEffectSet,
                                   qvReceiptMessageLineEffectSet) = default;

 private:
  static constexpr uint8_t Bit(qvReceiptMessageLineEffect e) {
    return static_cast<uint8_t>(1u << static_cast<unsigned>(e));
  }
  uint8_t bits_ = 0;
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_RECEIPT_DEFS_H_
