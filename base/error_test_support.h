// Test helper: the message of the system error a call throws.
#ifndef QVPA_BASE_ERROR_TEST_SUPPORT_H_
#define QVPA_BASE_ERROR_TEST_SUPPORT_H_

#include <functional>
#include <string>

#include "base/error.h"

namespace qvpa {

// The message of the EQVError that aCall throws, or "<no error>" when it returns; any
// other exception passes to the test.
inline std::u16string ErrorOf(const std::function<void()>& aCall) {
  try {
    aCall();
  } catch (const EQVError& e) {
    return e.Message();
  }
  return u"<no error>";
}

}  // namespace qvpa

#endif  // QVPA_BASE_ERROR_TEST_SUPPORT_H_
