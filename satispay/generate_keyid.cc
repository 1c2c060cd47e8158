#include "satispay/generate_keyid.h"

#include <exception>

#include "base/error.h"
#include "base/text.h"
#include "base/text_helpers.h"
#include "request/payment_handler.h"
#include "satispay/payment_satispay.h"

namespace qvpa {

bool GenerateKeyId(const std::u16string& aParameters, std::u16string& aKeyId, std::u16string& aError) {
  aKeyId.clear();
  aError.clear();
  try {
    const std::u16string token = GetField(GetField(aParameters, 1, u'|', false), 2, u'=', false);
    const std::u16string staging = GetField(GetField(aParameters, 2, u'|', false), 2, u'=', false);
    // The registration logs to a file of its own name: <driver>_GenerateKeyID_<date>.log.
    kPaymentHandler handler;
    handler.Deserialize(u"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>GenerateKeyID</LogId>"
                        u"<Connection><Type>http</Type></Connection></Request>");
    kPayment_SATISPAY device(handler);
    device.SetStaging(staging == u"true");
    std::u16string key_id;
    if (device.AuthenticationKeys(token, key_id)) {
      aKeyId = key_id;
      return true;
    }
  } catch (const EQVError& failure) {
    aError = failure.Message();
  } catch (const std::exception& failure) {
    aError = FromUtf8(failure.what());
  }
  aKeyId.clear();
  return false;
}

}  // namespace qvpa
