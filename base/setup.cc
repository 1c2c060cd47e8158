#include "base/setup.h"

#include "base/text.h"

namespace qvpa {

void tQV_Setup::Define(const std::u16string& aName) { SetValue(aName, std::monostate{}); }

SetupValue tQV_Setup::GetValue(const std::u16string& aName) const {
  const tQV_SetupEntry* entry = FindEntry(aName);
  return entry != nullptr ? entry->Value() : SetupValue{};
}

void tQV_Setup::SetValue(const std::u16string& aName, SetupValue aValue) {
  if (tQV_SetupEntry* entry = FindEntry(aName)) {
    entry->SetValue(std::move(aValue));
  } else {
    fList.push_back(std::make_unique<tQV_SetupEntry>(aName, std::move(aValue)));
  }
}

tQV_SetupEntry* tQV_Setup::FindEntry(const std::u16string& aName) const {
  const std::u16string wanted = LowerCase(aName);
  for (const auto& entry : fList) {
    if (LowerCase(entry->Name()) == wanted) return entry.get();
  }
  return nullptr;
}

}  // namespace qvpa
