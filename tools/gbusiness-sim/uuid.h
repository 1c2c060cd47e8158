// Random identifiers in the shapes the service hands out.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_UUID_H_
#define QVPA_TOOLS_GBUSINESS_SIM_UUID_H_

#include <string>

namespace qvpa::gbsim {

// A random (version 4) UUID in lower case, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string NewUuid();

// A key identifier: a long random lower-case alphanumeric word.
std::string NewKeyId();

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_UUID_H_
