// Creates the simulator's TLS material: a CA certificate and a server certificate signed by it for
// localhost, 127.0.0.1, ::1 and any extra names. Files are written into a folder; throws
// std::runtime_error when a step fails.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_TLS_CERTS_H_
#define QVPA_TOOLS_GBUSINESS_SIM_TLS_CERTS_H_

#include <string>
#include <vector>

namespace qvpa::gbsim {

struct TlsFiles {
  std::string ca_file;    // CA certificate, PEM: what clients trust
  std::string cert_file;  // server certificate, PEM
  std::string key_file;   // server private key, PEM (mode 0600)
};

// `extra_names` are DNS names or IP addresses added to the server certificate.
TlsFiles GenerateTlsFiles(const std::string& directory, const std::vector<std::string>& extra_names);

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_TLS_CERTS_H_
