// Registration of the built-in public key with the payment service: the inside of the
// GENERATE_KEYID export. Never throws; every failure ends as false with its message.
#ifndef QVPA_SATISPAY_GENERATE_KEYID_H_
#define QVPA_SATISPAY_GENERATE_KEYID_H_

#include <string>

namespace qvpa {

// aParameters: "token=<activation token>|staging=<true or anything else>" (the names are
// ignored, only the positions count; staging only for exactly "true"). True with the
// service's key identifier in aKeyId; false with aKeyId empty and the reason in aError.
bool GenerateKeyId(const std::u16string& aParameters, std::u16string& aKeyId, std::u16string& aError);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_GENERATE_KEYID_H_
