#include "io/header_text.h"

#include <string>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {

namespace {

bool BreaksLine(char c) { return c == '\r' || c == '\n' || c == '\0'; }

}  // namespace

bool IsSafeHeader(std::string_view aName, std::string_view aValue) {
  if (aName.empty()) return false;
  for (const char c : aName) {
    if (BreaksLine(c) || c == ':' || c == ' ' || c == '\t') return false;
  }
  for (const char c : aValue) {
    if (BreaksLine(c)) return false;
  }
  return true;
}

void CheckHeader(std::string_view aName, std::string_view aValue) {
  if (IsSafeHeader(aName, aValue)) return;
  std::string shown;
  for (const char c : aName) {
    if (!BreaksLine(c)) shown.push_back(c);
  }
  throw EQVError(u"HTTP header " + FromUtf8(shown) +
                 u" is not valid: names and values cannot hold line breaks or NUL, names no \":\"");
}

void CheckHeader(std::u16string_view aName, std::u16string_view aValue) {
  CheckHeader(ToUtf8(aName), ToUtf8(aValue));
}

}  // namespace qvpa
