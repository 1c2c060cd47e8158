// Module resources from the table compiled into the library (builds without
// platform resources; a Windows build reads RCDATA resources instead).
#include "satispay/module_resource_table.h"
#include "satispay/module_resources.h"

#include "base/text.h"

namespace qvpa {

std::optional<std::string> FindModuleResource(std::u16string_view name) {
  for (const EmbeddedResource& resource : KeyResources()) {
    if (SameText(FromAscii(resource.name), name)) return std::string(resource.data);
  }
  return std::nullopt;
}

}  // namespace qvpa
