// tQV_Setup: an ordered store of named values of any of a few types. Names are unique
// without regard to case and keep the letter case of their first definition.
#ifndef QVPA_BASE_SETUP_H_
#define QVPA_BASE_SETUP_H_

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qvpa {

// A dynamically typed value; std::monostate is the empty value.
using SetupValue = std::variant<std::monostate, int64_t, double, bool, std::u16string>;

class tQV_SetupEntry {
 public:
  tQV_SetupEntry(std::u16string aName, SetupValue aValue)
      : fName(std::move(aName)), fValue(std::move(aValue)) {}
  const std::u16string& Name() const { return fName; }
  void SetName(std::u16string aName) { fName = std::move(aName); }
  const SetupValue& Value() const { return fValue; }
  void SetValue(SetupValue aValue) { fValue = std::move(aValue); }

 private:
  std::u16string fName;
  SetupValue fValue;
};

class tQV_Setup {
 public:
  tQV_Setup() = default;
  tQV_Setup(const tQV_Setup&) = delete;
  tQV_Setup& operator=(const tQV_Setup&) = delete;

  // SetValue with the empty value.
  void Define(const std::u16string& aName);
  // The entry's value, or the empty value when the name has no entry.
  SetupValue GetValue(const std::u16string& aName) const;
  // Replaces the value of an existing entry, else appends a new entry.
  void SetValue(const std::u16string& aName, SetupValue aValue);
  // The entries in order of first definition.
  const std::vector<std::unique_ptr<tQV_SetupEntry>>& Entries() const { return fList; }

 private:
  tQV_SetupEntry* FindEntry(const std::u16string& aName) const;

  std::vector<std::unique_ptr<tQV_SetupEntry>> fList;
};

}  // namespace qvpa

#endif  // QVPA_BASE_SETUP_H_
