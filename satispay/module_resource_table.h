// The table of resources compiled into the library on platforms without module
// resources of their own. Internal to the satispay subsystem.
#ifndef QVPA_SATISPAY_MODULE_RESOURCE_TABLE_H_
#define QVPA_SATISPAY_MODULE_RESOURCE_TABLE_H_

#include <span>
#include <string_view>

namespace qvpa {

struct EmbeddedResource {
  std::string_view name;  // upper case
  std::string_view data;
};

// The built-in key pair; defined in a source generated at build time.
std::span<const EmbeddedResource> KeyResources();

}  // namespace qvpa

#endif  // QVPA_SATISPAY_MODULE_RESOURCE_TABLE_H_
