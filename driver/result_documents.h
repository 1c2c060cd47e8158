// The XML result documents of the operations: sibling elements joined by CR LF, no
// declaration and no root, every value rendered by its type. Rendering never fails.
#ifndef QVPA_DRIVER_RESULT_DOCUMENTS_H_
#define QVPA_DRIVER_RESULT_DOCUMENTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "payment/payment_results.h"

namespace qvpa {

// What an operation export hands back: the document, the unescaped error text and the
// result code (-1 when Error is true, otherwise 0).
struct RenderedResult {
  std::u16string Output;
  std::u16string ErrorMessage;
  int16_t Result = 0;
};

// Replaces & < > " ' by their entities, the ampersand first; nothing else changes.
std::u16string EscapeXmlText(std::u16string_view aText);

RenderedResult RenderResult(const _int_OPEN_result& aResult);
RenderedResult RenderResult(const _int_CLOSE_result& aResult);
RenderedResult RenderResult(const _int_PAY_result& aResult);  // PAY and VERIFYTRAN
RenderedResult RenderResult(const _int_REPRINT_result& aResult);
RenderedResult RenderResult(const _int_GETSTATUS_result& aResult);
RenderedResult RenderResult(const _int_DAYCLOSE_result& aResult);
RenderedResult RenderResult(const _int_GETTOTALS_result& aResult);

}  // namespace qvpa

#endif  // QVPA_DRIVER_RESULT_DOCUMENTS_H_
