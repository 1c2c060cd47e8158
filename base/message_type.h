// The kind of a log line: information or error.
#ifndef QVPA_BASE_MESSAGE_TYPE_H_
#define QVPA_BASE_MESSAGE_TYPE_H_

#include <cstdint>

namespace qvpa {

enum class tQV_MessageType : uint8_t { let_info = 0, let_error = 1 };

}  // namespace qvpa

#endif  // QVPA_BASE_MESSAGE_TYPE_H_
