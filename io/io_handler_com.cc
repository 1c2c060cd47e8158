#include "io/io_handler_com.h"

#include "base/error.h"

namespace qvpa {

kIOHandler_Com::kIOHandler_Com(const kConnection* aConnection, const std::u16string& aDirectory,
                               const std::u16string& aFileName)
    : kIOHandler(aConnection, aDirectory, aFileName) {}

bool kIOHandler_Com::Write(const std::u16string&) { return false; }

std::u16string kIOHandler_Com::ReadUpTo(std::span<const uint8_t>) { return {}; }

std::u16string kIOHandler_Com::ReadChars(int32_t) { return {}; }

std::u16string kIOHandler_Com::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }

std::u16string kIOHandler_Com::DecodeError(int32_t) { return {}; }

bool kIOHandler_Com::InputBufferContainsData() {
  throw EQVError(u"InputBufferContainsData Unsupported");
}

void kIOHandler_Com::SetParameter(const std::u16string&, const std::u16string&) {}

}  // namespace qvpa
