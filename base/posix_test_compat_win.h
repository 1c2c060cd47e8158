// The few POSIX calls the platform-neutral tests use (environment and temporary folders),
// on the Windows runtime. Included into every Windows test by the build.
#ifndef QVPA_BASE_POSIX_TEST_COMPAT_WIN_H_
#define QVPA_BASE_POSIX_TEST_COMPAT_WIN_H_

#include <direct.h>
#include <io.h>
#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// The runtime keeps no empty variables: setting "" removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

inline char* mkdtemp(char* tmpl) {
  if (_mktemp_s(tmpl, strlen(tmpl) + 1) != 0 || _mkdir(tmpl) != 0) return nullptr;
  return tmpl;
}

#endif  // QVPA_BASE_POSIX_TEST_COMPAT_WIN_H_
