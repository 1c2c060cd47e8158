// A device session with fuzzed sections: OPEN of a Satispay device whose service host is a
// loopback port that refuses connections, then PAY, VERIFYTRAN, DAYCLOSE, GETTOTALS and CLOSE
// on its handle. The input holds the sections in that order, UTF-8, separated by form feeds;
// each is placed after the handle inside the request's root element. A call is made for
// each section the input holds (an empty one included), so an input of two sections calls
// PAY and VERIFYTRAN only.
//
// One session serves the inputs until a CLOSE ends it, or for 1000 inputs: an OPEN and a
// CLOSE per input (a log thread started and joined, log files and the journal database
// created and removed) cost several times the calls in between. A CLOSE that fails (a
// fuzzed section that does not parse, for one) leaves the device open, and the session goes
// on with it, as a host's would (about a third of the inputs with a CLOSE section). The log
// folder is cleared every 64 sessions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "driver/exports.h"
#include "fuzz/export_calls.h"
#include "fuzz/fuzz_support.h"

namespace {

using qvpa::fuzzing::Call;
using qvpa::fuzzing::Export;

const char16_t kOpen[] =
    u"<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>F1</LogId>"
    u"<Connection><Type>HTTP</Type><ConnectTimeout>2000</ConnectTimeout></Connection>"
    u"<Parameters><KeyID>fuzz-key</KeyID><RequestTimeout>2000</RequestTimeout></Parameters>"
    u"</Request>";

const Export kSteps[] = {&PAY, &VERIFYTRAN, &DAYCLOSE, &GETTOTALS, &CLOSE};

// The handle in an OPEN result, 0 when there is none.
int32_t HandleOf(const std::u16string& aOutput) {
  const size_t start = aOutput.find(u"<Handle>");
  if (start == std::u16string::npos) return 0;
  int32_t handle = 0;
  for (size_t i = start + 8; i < aOutput.size() && aOutput[i] >= u'0' && aOutput[i] <= u'9';
       ++i) {
    handle = handle * 10 + (aOutput[i] - u'0');
  }
  return handle;
}

int32_t gHandle = 0;  // the open session's device, 0 when none
int gUses = 0;
int gSessions = 0;
int gClosed = 0;  // sessions ended by a CLOSE of the input

// The session's handle: the open one, or a new one when there is none or it has served
// its 1000 inputs.
int32_t Session() {
  if (gHandle > 0 && ++gUses < 1000) return gHandle;
  if (gHandle > 0) qvpa::fuzzing::CloseOpenDevices(gHandle);
  if (++gSessions % 64 == 0) qvpa::fuzzing::ClearDeviceLogs();
  gUses = 0;
  gHandle = HandleOf(Call(&OPEN, kOpen).output);
  if (gHandle <= 0) __builtin_trap();  // the fixed OPEN request must always open
  return gHandle;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qvpa::fuzzing::PrepareProcess();
  // Before the log folder is removed (handlers registered later run first).
  std::atexit([] {
    if (gHandle > 0) qvpa::fuzzing::CloseOpenDevices(gHandle);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  const std::vector<std::string_view> sections = qvpa::fuzzing::Split(
      std::string_view(reinterpret_cast<const char*>(aData), aSize), '\f');
  const int32_t handle = Session();
  const std::u16string head = u"<Request><Handle>" + qvpa::IntToStr(handle) + u"</Handle>";
  for (size_t i = 0; i < std::size(kSteps) && i < sections.size(); ++i) {
    const int16_t result =
        Call(kSteps[i], head + qvpa::FromUtf8(sections[i]) + u"</Request>").result;
    // Only the session's device is open, so a CLOSE that succeeded has closed it. Now and
    // then the closed handle and the next, unknown one are tried as well (CLOSE of both
    // fails); their paths do not depend on the input.
    if (kSteps[i] == &CLOSE && result == 0) {
      if (++gClosed % 16 == 1) {
        qvpa::fuzzing::CloseOpenDevices(handle);
      } else {
        qvpa::fuzzing::NoteClosed(handle);
      }
      gHandle = 0;
    }
  }
  return 0;
}
