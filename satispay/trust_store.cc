#include "satispay/trust_store.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <mutex>

#include "base/error.h"
#include "base/text.h"

namespace qvpa {
namespace {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// Where the HTTPS library looks for the system's authorities by default.
void LoadSystemAuthorities(X509_STORE* store) {
  std::unique_ptr<CURL, EasyCleanup> probe(curl_easy_init());
  const char* file = nullptr;
  const char* folder = nullptr;
  if (probe) {
    curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &file);
    curl_easy_getinfo(probe.get(), CURLINFO_CAPATH, &folder);
  }
  bool loaded = false;
  if (file != nullptr && X509_STORE_load_file(store, file) == 1) loaded = true;
  // A folder is only indexed here; its certificates are read when a chain needs them.
  if (folder != nullptr && X509_STORE_load_path(store, folder) == 1) loaded = true;
  if (!loaded) X509_STORE_set_default_paths(store);
  ERR_clear_error();  // a missing default location is no failure of a later call
}

TrustStore::Reference Build(const std::string& extra_ca_file) {
  TrustStore::Reference store(X509_STORE_new());
  if (!store) throw EQVError(u"HTTPS client out of memory");
  LoadSystemAuthorities(store.get());
  if (!extra_ca_file.empty() && X509_STORE_load_file(store.get(), extra_ca_file.c_str()) != 1) {
    ERR_clear_error();
    throw EQVError(u"CA file " + FromUtf8(extra_ca_file) + u" cannot be read");
  }
  // As the HTTPS library sets on its own stores: an authority of the bundle may be an
  // intermediate, and trusted certificates are preferred when the chain is built.
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_TRUSTED_FIRST);
  return store;
}

TrustStore::Reference Share(X509_STORE* store) {
  X509_STORE_up_ref(store);
  return TrustStore::Reference(store);
}

}  // namespace

void TrustStore::StoreFree::operator()(X509_STORE* store) const { X509_STORE_free(store); }

TrustStore::Reference TrustStore::ForExtraFile(const std::string& aExtraCaFile) {
  // Shared by every device's client: built and swapped under this mutex; the store itself
  // is reference-counted and locked inside the crypto library.
  static std::mutex mutex;
  static std::string built_for;
  static Reference current;  // released when the library is unloaded
  std::lock_guard lock(mutex);
  if (!current || built_for != aExtraCaFile) {
    current = Build(aExtraCaFile);
    built_for = aExtraCaFile;
  }
  return Share(current.get());
}

}  // namespace qvpa
