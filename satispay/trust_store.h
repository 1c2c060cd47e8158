// The certificate authorities the service client trusts, built once per process: the system's
// authorities plus an optional extra PEM bundle (QVPA_SATISPAY_CA_FILE). Parsing the system's
// bundle costs milliseconds, so every TLS connection shares the one store instead of loading
// its own. The store is built again only when another extra bundle path is asked for; one
// built earlier stays valid for whoever still holds a reference. Thread-safe.
#ifndef QVPA_SATISPAY_TRUST_STORE_H_
#define QVPA_SATISPAY_TRUST_STORE_H_

#include <memory>
#include <string>

#include <openssl/types.h>

namespace qvpa {

class TrustStore {
 public:
  struct StoreFree {
    void operator()(X509_STORE* store) const;
  };
  using Reference = std::unique_ptr<X509_STORE, StoreFree>;  // one counted reference

  TrustStore() = delete;

  // A reference to the store with the system's authorities and those of the PEM bundle at
  // aExtraCaFile (empty: the system's alone). Throws EQVError "CA file <path> cannot be
  // read" when the bundle cannot be read or holds no certificate; nothing is kept then.
  static Reference ForExtraFile(const std::string& aExtraCaFile);
};

}  // namespace qvpa

#endif  // QVPA_SATISPAY_TRUST_STORE_H_
