#include "driver/result_documents.h"

#include "base/text.h"
#include "base/text_helpers.h"

namespace qvpa {
namespace {

// Collects the elements of one document, rendering each value by its type.
class DocumentBuilder {
 public:
  DocumentBuilder& Text(std::u16string_view aName, std::u16string_view aValue) {
    return Element(aName, EscapeXmlText(aValue));
  }
  DocumentBuilder& Integer(std::u16string_view aName, int32_t aValue) {
    return Element(aName, IntToStr(aValue));
  }
  DocumentBuilder& Amount(std::u16string_view aName, qvpa::Currency aValue) {
    return Element(aName, aValue.ToText());
  }
  DocumentBuilder& Boolean(std::u16string_view aName, bool aValue) {
    return Element(aName, aValue ? u"True" : u"False");
  }
  DocumentBuilder& Date(std::u16string_view aName, TDateTime aValue) {
    return Element(aName, DateTimeToISO(aValue, false));
  }

  // Closes the document with the three fields every record ends with.
  template <class R>
  RenderedResult Finish(const R& aResult) {
    Boolean(u"Error", aResult.Error);
    Text(u"ErrorText", aResult.ErrorText);
    Text(u"LogFileName", aResult.LogFileName);
    return RenderedResult{std::move(text_), aResult.ErrorText,
                          static_cast<int16_t>(aResult.Error ? -1 : 0)};
  }

 private:
  DocumentBuilder& Element(std::u16string_view aName, std::u16string_view aRendered) {
    if (!text_.empty()) text_ += u"\r\n";
    text_ += u'<';
    text_ += aName;
    text_ += u'>';
    text_ += aRendered;
    text_ += u"</";
    text_ += aName;
    text_ += u'>';
    return *this;
  }

  std::u16string text_;
};

}  // namespace

std::u16string EscapeXmlText(std::u16string_view aText) {
  // One pass: the text between special characters is copied as it is.
  std::u16string result;
  result.reserve(aText.size());
  size_t from = 0;
  while (true) {
    const size_t at = aText.find_first_of(u"&<>\"'", from);
    if (at == std::u16string_view::npos) {
      result.append(aText.substr(from));
      return result;
    }
    result.append(aText.substr(from, at - from));
    switch (aText[at]) {
      case u'&': result += u"&amp;"; break;
      case u'<': result += u"&lt;"; break;
      case u'>': result += u"&gt;"; break;
      case u'"': result += u"&quot;"; break;
      default: result += u"&apos;"; break;
    }
    from = at + 1;
  }
}

RenderedResult RenderResult(const _int_OPEN_result& aResult) {
  return DocumentBuilder().Integer(u"Handle", aResult.Handle).Finish(aResult);
}

RenderedResult RenderResult(const _int_CLOSE_result& aResult) {
  return DocumentBuilder().Finish(aResult);
}

RenderedResult RenderResult(const _int_PAY_result& r) {
  DocumentBuilder doc;
  doc.Text(u"DeviceId", r.DeviceId)
      .Date(u"PaymentDateTime", r.PaymentDateTime)
      .Text(u"PaymentNumber", r.PaymentNumber)
      .Amount(u"PaymentAmount", r.PaymentAmount)
      .Text(u"PaymentCurrency", r.PaymentCurrency)
      .Amount(u"ExchangeRate", r.ExchangeRate)
      .Amount(u"PaymentAmountCurrency", r.PaymentAmountCurrency)
      .Text(u"PaymentCurrencyCurrency", r.PaymentCurrencyCurrency)
      .Amount(u"TippedAmount", r.TippedAmount)
      .Amount(u"RemainingBalance", r.RemainingBalance)
      .Text(u"MaskedPAN", r.MaskedPAN)
      .Text(u"SerialNumber", r.SerialNumber)
      .Text(u"PaymentNetwork", EncodePaymentNetwork(r.PaymentNetwork))
      .Text(u"TransactionType", EncodeTransactionType(r.TransactionType))
      .Text(u"AuthCode", r.AuthCode)
      .Text(u"TraceAuditId", r.TraceAuditId)
      .Integer(u"NumberOfItems", r.NumberOfItems)
      .Amount(u"SingleItemAmount", r.SingleItemAmount)
      .Boolean(u"SignatureRequested", r.SignatureRequested)
      .Text(u"CustomerCountryCode", r.CustomerCountryCode)
      .Text(u"CardToken", r.CardToken)
      .Text(u"RefundReference", r.RefundReference)
      .Text(u"ReceiptText", r.ReceiptText)
      .Text(u"CashierReceiptText", r.CashierReceiptText);
  return doc.Finish(r);
}

RenderedResult RenderResult(const _int_REPRINT_result& r) {
  DocumentBuilder doc;
  doc.Text(u"ReceiptText", r.ReceiptText).Text(u"CashierReceiptText", r.CashierReceiptText);
  return doc.Finish(r);
}

RenderedResult RenderResult(const _int_GETSTATUS_result& r) {
  DocumentBuilder doc;
  doc.Boolean(u"DayOpened", r.DayOpened)
      .Date(u"DateTime", r.DateTime)
      .Boolean(u"PaperEnd", r.PaperEnd)
      .Boolean(u"PaperNearEnd", r.PaperNearEnd)
      .Boolean(u"CoverOpen", r.CoverOpen)
      .Boolean(u"FiscalReceiptOpen", r.FiscalReceiptOpen)
      .Boolean(u"ReceiptOpen", r.ReceiptOpen)
      .Boolean(u"TrainingMode", r.TrainingMode)
      .Text(u"FirmwareVersion", r.FirmwareVersion)
      .Text(u"SerialNumber", r.SerialNumber)
      .Text(u"FiscalMode", r.FiscalMode);
  return doc.Finish(r);
}

RenderedResult RenderResult(const _int_DAYCLOSE_result& r) {
  DocumentBuilder doc;
  doc.Text(u"DeviceId", r.DeviceId)
      .Date(u"ClosureDateTime", r.ClosureDateTime)
      .Text(u"ClosureNumber", r.ClosureNumber)
      .Integer(u"TransactionsCount", r.TransactionsCount)
      .Amount(u"TotalAmount", r.TotalAmount)
      .Text(u"Currency", r.Currency)
      .Text(u"ReceiptText", r.ReceiptText);
  return doc.Finish(r);
}

RenderedResult RenderResult(const _int_GETTOTALS_result& r) {
  DocumentBuilder doc;
  doc.Text(u"DeviceId", r.DeviceId)
      .Date(u"DateTime", r.DateTime)
      .Integer(u"TransactionsCount", r.TransactionsCount)
      .Amount(u"TotalAmount", r.TotalAmount)
      .Text(u"Currency", r.Currency)
      .Text(u"ReceiptText", r.ReceiptText);
  return doc.Finish(r);
}

}  // namespace qvpa
