// Named data resources compiled into the library (the built-in key pair
// SATISPAY_PRIVATEKEY and SATISPAY_PUBLICKEY). Names are matched ignoring letter case.
#ifndef QVPA_SATISPAY_MODULE_RESOURCES_H_
#define QVPA_SATISPAY_MODULE_RESOURCES_H_

#include <optional>
#include <string>
#include <string_view>

namespace qvpa {

// The stored bytes of the named resource; empty when the library holds none of that name.
// The resources are constant data of the library: any thread may read them.
std::optional<std::string> FindModuleResource(std::u16string_view name);

// Stored resource bytes as text: a byte-order mark selects UTF-8 or UTF-16, otherwise
// UTF-8; split into lines at CR LF, CR or LF and rejoined with every line ended by CR LF.
std::u16string ResourceText(std::string_view data);

// The named resource as ResourceText. Throws EQVError
// "Resource " + name + " not found".
std::u16string LoadResourceText(std::u16string_view name);

}  // namespace qvpa

#endif  // QVPA_SATISPAY_MODULE_RESOURCES_H_
