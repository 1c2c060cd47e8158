#include "driver/builtin_drivers.h"

#include "satispay/generate_keyid.h"
#include "satispay/payment_satispay.h"

namespace qvpa {

void RegisterBuiltInDrivers(DriverRegistry& aRegistry) {
  aRegistry.Register(u"QVPA_SATISPAY_10", &CreatePaymentDevice<kPayment_SATISPAY>);
}

bool GenerateBuiltInKeyId(const std::u16string& aParameters, std::u16string& aKeyId,
                          std::u16string& aError) {
  return GenerateKeyId(aParameters, aKeyId, aError);
}

}  // namespace qvpa
