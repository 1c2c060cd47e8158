// The one check every outgoing HTTP header passes, whatever client sends it: a header
// name or value that could end the header line early (CR, LF, NUL), or a name that
// could split into name and value (":"), would let text from outside forge further
// header lines or a second request.
#ifndef QVPA_IO_HEADER_TEXT_H_
#define QVPA_IO_HEADER_TEXT_H_

#include <string_view>

namespace qvpa {

// True when the pair can be sent as one header line: a non-empty name without CR, LF,
// NUL, ":" or blanks, and a value without CR, LF or NUL.
bool IsSafeHeader(std::string_view aName, std::string_view aValue);

// Throws EQVError "HTTP header <name> is not valid: ..." when IsSafeHeader is false.
void CheckHeader(std::string_view aName, std::string_view aValue);
void CheckHeader(std::u16string_view aName, std::u16string_view aValue);

}  // namespace qvpa

#endif  // QVPA_IO_HEADER_TEXT_H_
