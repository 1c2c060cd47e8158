// The receipt vocabulary codecs and the text helpers of krptUtil on arbitrary UTF-8 text.
// Beyond not crashing: whatever a decoder accepts must encode to a text that decodes back to
// the same member.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "request/rpt_util.h"

namespace {

using qvpa::krptUtil;

template <typename Decode, typename Encode>
void RoundTrip(const std::u16string& aText, Decode aDecode, Encode aEncode) {
  std::optional<decltype(aDecode(aText))> member;
  try {
    member = aDecode(aText);
  } catch (const qvpa::EQVError&) {
    return;
  }
  // Outside the handler: a failure to decode the encoded text is a finding.
  if (aDecode(aEncode(*member)) != *member) std::abort();
}

template <typename Decode>
void DecodeOnly(const std::u16string& aText, Decode aDecode) {
  try {
    aDecode(aText);
  } catch (const qvpa::EQVError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  const std::u16string text =
      qvpa::FromUtf8(std::string_view(reinterpret_cast<const char*>(aData), aSize));
  RoundTrip(text, krptUtil::DecodeAlignment, krptUtil::EncodeAlignment);
  RoundTrip(text, krptUtil::DecodeBarcodeType, krptUtil::EncodeBarcodeType);
  RoundTrip(text, krptUtil::DecodeLineType, krptUtil::EncodeLineType);
  RoundTrip(text, krptUtil::DecodePaymentType, krptUtil::EncodePaymentType);
  RoundTrip(text, krptUtil::DecodeReceiptType, krptUtil::EncodeReceiptType);
  RoundTrip(text, krptUtil::DecodeReferenceType, krptUtil::EncodeReferenceType);
  RoundTrip(text, krptUtil::DecodeEffect, krptUtil::EncodeEffect);
  RoundTrip(text, krptUtil::DecodeEffects, krptUtil::EncodeEffects);
  RoundTrip(text, krptUtil::DecodeImageSource, krptUtil::EncodeImageSource);
  RoundTrip(text, krptUtil::DecodeTaxType, krptUtil::EncodeTaxType);
  DecodeOnly(text, krptUtil::DecodeEJReportDestination);
  DecodeOnly(text, krptUtil::DecodeEJReportType);
  DecodeOnly(text, krptUtil::DecodeEJRequestType);
  DecodeOnly(text, krptUtil::DecodeLineAttribute);
  // NormalizeText keeps the length and leaves printable ASCII only.
  const std::u16string normal = krptUtil::NormalizeText(text);
  for (const char16_t c : normal) {
    if (c < 32 || c > 127) std::abort();
  }
  const std::optional<int32_t> value = krptUtil::TryStrToInt(text);
  if (value && krptUtil::TryStrToInt(qvpa::IntToStr(*value)) != value) std::abort();
  return 0;
}
