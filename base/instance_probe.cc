// A host that asks for the single-instance guard, for tests across processes. With the
// guard it prints "held" and keeps it until its standard input closes, then exits 0;
// told to end because another process holds the guard, it exits 3. It uses the platform's
// windowing layer.
#include <cstdio>
#include <memory>
#include <utility>

#include "base/application.h"
#include "base/platform.h"
#include "base/windowing.h"

int main() {
  bool told_to_end = false;
  {
    std::unique_ptr<qvpa::Windowing> windowing = qvpa::CreatePlatformWindowing();
    windowing->SetExitHook([&told_to_end] { told_to_end = true; });
    qvpa::tQV_ApplicationScope scope(qvpa::platform::CommandLineParameters(),
                                     std::move(windowing));
    scope.Application().SetSingleInstance(true);
    if (!told_to_end) {
      std::puts("held");
      std::fflush(stdout);
      while (std::getchar() != EOF) {
      }
    }
  }
  return told_to_end ? 3 : 0;
}
