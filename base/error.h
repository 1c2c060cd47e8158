// The system's one error type: a failure carrying its message text.
#ifndef QVPA_BASE_ERROR_H_
#define QVPA_BASE_ERROR_H_

#include <exception>
#include <string>

#include "base/text.h"

namespace qvpa {

// Raised by every operation of the system that fails; the exports catch it (and
// anything else) and turn its message into the result's error text.
class EQVError : public std::exception {
 public:
  explicit EQVError(std::u16string message)
      : message_(std::move(message)), utf8_(ToUtf8(message_)) {}
  const std::u16string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

// A cast of a channel or device to a class it is not (the runtime's invalid typecast).
class EInvalidCast : public EQVError {
 public:
  EInvalidCast() : EQVError(u"Invalid class typecast") {}
};

}  // namespace qvpa

#endif  // QVPA_BASE_ERROR_H_
