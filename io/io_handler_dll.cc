#include "io/io_handler_dll.h"

#include "base/error.h"
#include "base/text.h"
#include "io/dynamic_library.h"

namespace qvpa {

namespace {

constexpr char16_t kTitleCreate[] = u"kIOHandler_Dll.Create";
constexpr char16_t kTitleDestroy[] = u"kIOHandler_Dll.Destroy";

}  // namespace

kIOHandler_Dll::kIOHandler_Dll(const kConnection& aConnection, const std::u16string& aDirectory,
                               const std::u16string& aFileName)
    : kIOHandler(&aConnection, aDirectory, aFileName) {
  WriteLog(tQV_MessageType::let_info, kTitleCreate, u"Loading DLL " + aConnection.LibraryName());
  DynamicLibrary::LoadError error;
  fLibraryHandle = DynamicLibrary::Load(aConnection.LibraryName(), error);
  if (!fLibraryHandle) {
    // The base destructor still runs for the constructed base: it writes the stop banner.
    throw EQVError(u"Unable to Load Library " + aConnection.LibraryName() + u". " + error.message +
                   u" [" + IntToStr(error.code) + u"]");
  }
  WriteLog(tQV_MessageType::let_info, kTitleCreate, u"DLL Loaded successfully");
}

kIOHandler_Dll::~kIOHandler_Dll() { Unload(); }

void kIOHandler_Dll::Unload() {
  if (!fLibraryHandle) return;
  try {
    WriteLog(tQV_MessageType::let_info, kTitleDestroy, u"Unloading DLL");
    fLibraryHandle.reset();
    WriteLog(tQV_MessageType::let_info, kTitleDestroy, u"DLL Unloaded Successfully");
  } catch (...) {
    // A destructor must not throw; the library is unloaded all the same.
    fLibraryHandle.reset();
  }
}

void* kIOHandler_Dll::GetAddress(const std::u16string& aProcName) {
  void* address = fLibraryHandle->Address(aProcName);
  if (address == nullptr) throw EQVError(u"Unable to get address for procedure " + aProcName);
  return address;
}

std::u16string kIOHandler_Dll::ReadAll() { throw EQVError(u"ReadAll Unsupported"); }

bool kIOHandler_Dll::InputBufferContainsData() {
  throw EQVError(u"InputBufferContainsData Unsupported");
}

}  // namespace qvpa
