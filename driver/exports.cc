// The one boundary between the host and the library: every failure is caught here and
// turned into the result. Calls may come from several threads at once: the device table
// serialises the calls on one device and lets calls on different devices run side by side;
// GETSTATUS, VERSION and GENERATE_KEYID wait for no device.
#include "driver/exports.h"

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "base/error.h"
#include "base/platform.h"
#include "base/text.h"
#include "driver/builtin_drivers.h"
#include "driver/library_drivers.h"
#include "driver/library_state.h"
#include "driver/payment_wrapper.h"
#include "driver/result_documents.h"

namespace qvpa {
namespace {

std::u16string CurrentFailureText() {
  try {
    throw;
  } catch (const EQVError& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return u"Out of memory";
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return u"Unexpected failure";
  }
}

// The library state from load to unload. A failure while creating it is kept and reported
// by every call instead of leaving the loading of the library. Written only while the
// library's statics are initialised, before any call; read-only afterwards.
class LoadedLibrary {
 public:
  LoadedLibrary() {
    try {
      fState = std::make_unique<LibraryState>(RegisterLibraryDrivers);
    } catch (...) {
      fFailure = CurrentFailureText();
    }
  }
  // When the process ends, the host's threads were ended inside calls, possibly holding a
  // device's or a log's lock: destroying the state would wait on them forever. The system
  // reclaims its memory and handles; lines still queued by those threads are lost, and open
  // devices write no stop banner.
  ~LoadedLibrary() {
    if (platform::ProcessEnding()) static_cast<void>(fState.release());
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  LibraryState& State() {
    if (!fState) throw EQVError(u"The driver library could not be initialised: " + fFailure);
    return *fState;
  }

 private:
  std::unique_ptr<LibraryState> fState;
  std::u16string fFailure;
};

LoadedLibrary gLibrary;

void ClearOutputs(BSTR* aOutput, BSTR* aErrorMessage) {
  if (aOutput != nullptr) *aOutput = nullptr;
  if (aErrorMessage != nullptr) *aErrorMessage = nullptr;
}

// Hands both texts to the caller; a failed allocation leaves neither behind.
void Deliver(std::u16string_view aOutputText, std::u16string_view aErrorText, BSTR* aOutput,
             BSTR* aErrorMessage) {
  BSTR output = aOutput != nullptr ? StringToBstr(aOutputText) : nullptr;
  BSTR error = nullptr;
  try {
    if (aErrorMessage != nullptr) error = StringToBstr(aErrorText);
  } catch (...) {
    SysFreeString(output);
    throw;
  }
  if (aOutput != nullptr) *aOutput = output;
  if (aErrorMessage != nullptr) *aErrorMessage = error;
}

// Last resort when even the answer could not be made: the failure's text, if it fits.
void DeliverFailure(BSTR* aOutput, BSTR* aErrorMessage) noexcept {
  try {
    const std::u16string text = CurrentFailureText();
    ClearOutputs(aOutput, aErrorMessage);
    if (aErrorMessage != nullptr) *aErrorMessage = StringToBstr(text);
  } catch (...) {
  }
}

template <class Wrapper>
int16_t RunOperation(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) noexcept {
  ClearOutputs(aOutput, aErrorMessage);
  try {
    const std::u16string xml = BstrToString(aXml);
    RenderedResult rendered;
    {
      LibraryState& state = gLibrary.State();
      Wrapper wrapper(state.Registry(), state.Devices());
      wrapper.Process(xml);
      wrapper.Format(rendered.Output, rendered.ErrorMessage, rendered.Result);
    }
    Deliver(rendered.Output, rendered.ErrorMessage, aOutput, aErrorMessage);
    return rendered.Result;
  } catch (...) {
    DeliverFailure(aOutput, aErrorMessage);
    return -1;
  }
}

int16_t RunVersion(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) noexcept {
  ClearOutputs(aOutput, aErrorMessage);
  try {
    const std::u16string name = BstrToString(aXml);
    std::u16string version;
    if (gLibrary.State().Registry().Find(name) != nullptr) {
      version = kPaymentDevice::GetDriverVersion();
    }
    if (aOutput != nullptr) *aOutput = StringToBstr(version);
  } catch (...) {
    // VERSION never fails: an unknown name or a missing version gives no text.
  }
  return 0;
}

int16_t RunGenerateKeyId(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) noexcept {
  ClearOutputs(aOutput, aErrorMessage);
  try {
    const std::u16string parameters = BstrToString(aXml);
    std::u16string key_id;
    std::u16string error;
    bool found = false;
    // A device of its own, outside the table: nothing here waits for an open device.
    gLibrary.State();
    found = GenerateBuiltInKeyId(parameters, key_id, error);
    if (found) {
      Deliver(key_id, u"", aOutput, aErrorMessage);
      return 1;
    }
    Deliver(u"", error, aOutput, aErrorMessage);
    return 0;
  } catch (...) {
    DeliverFailure(aOutput, aErrorMessage);
    return 0;
  }
}

}  // namespace
}  // namespace qvpa

extern "C" {

int16_t QVPA_CALL OPEN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_OPEN>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL CLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_CLOSE>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL PAY(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_PAY>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL REPRINT(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_REPRINT>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL GETSTATUS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_GETSTATUS>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL DAYCLOSE(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_DAYCLOSE>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL GETTOTALS(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_GETTOTALS>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL VERIFYTRAN(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunOperation<qvpa::kPaymentWrapper_VERIFYTRAN>(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL VERSION(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunVersion(aXml, aOutput, aErrorMessage);
}
int16_t QVPA_CALL GENERATE_KEYID(BSTR aXml, BSTR* aOutput, BSTR* aErrorMessage) {
  return qvpa::RunGenerateKeyId(aXml, aOutput, aErrorMessage);
}

}  // extern "C"
