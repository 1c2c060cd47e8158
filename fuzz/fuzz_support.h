// What the fuzz targets share: a process set up so that nothing leaves this machine (the
// service hosts point at a loopback port that refuses connections) and logs land in a
// temporary folder, and input splitting.
#ifndef QVPA_FUZZ_FUZZ_SUPPORT_H_
#define QVPA_FUZZ_FUZZ_SUPPORT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvpa::fuzzing {

// Once per process: a loopback port bound but never listening (connections to it are
// refused), QVPA_SATISPAY_HOST and QVPA_SATISPAY_STAGING_HOST set to it, QVPA_LOG_DIR set
// to a fresh folder below $TMPDIR, or below /dev/shm when TMPDIR is not set, removed at exit (what writes there must end before: register
// its end with std::atexit after this call).
void PrepareProcess();
// "127.0.0.1:<port>" of the refusing port.
const std::string& RefusedHost();
// Removes the device logs written so far, so that long runs do not fill the disk.
void ClearDeviceLogs();

// The parts of aInput between occurrences of aSeparator.
std::vector<std::string_view> Split(std::string_view aInput, char aSeparator);

}  // namespace qvpa::fuzzing

#endif  // QVPA_FUZZ_FUZZ_SUPPORT_H_
