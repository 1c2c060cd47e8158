// The module's string table: texts by numeric identifier (the version information lives
// at 10000 upwards). This build carries the table compiled in (string_table_data.cc).
#ifndef QVPA_BASE_STRING_TABLE_H_
#define QVPA_BASE_STRING_TABLE_H_

#include <cstdint>
#include <functional>
#include <string>

namespace qvpa {

// A source of string-table texts: empty for an identifier that has no text.
using StringSource = std::function<std::u16string(int32_t)>;

// The text of the module's string-table entry aId; empty when there is none.
std::u16string LoadModuleString(int32_t aId);

}  // namespace qvpa

#endif  // QVPA_BASE_STRING_TABLE_H_
