// Marks the library's entry points: exported with C linkage and, on 32-bit Windows, the
// stdcall convention. On Windows the module definition file alone names the exports
// (undecorated), so nothing is marked for export in the code there.
#ifndef QVPA_DRIVER_EXPORT_H_
#define QVPA_DRIVER_EXPORT_H_

#if defined(_WIN32)
#define QVPA_EXPORT
#else
#define QVPA_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define QVPA_CALL __stdcall
#else
#define QVPA_CALL
#endif

#endif  // QVPA_DRIVER_EXPORT_H_
