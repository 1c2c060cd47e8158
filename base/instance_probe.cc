// A host that asks for the single-instance guard, for tests across processes. With the
// guard it prints "held" and keeps it until its standard input closes, then exits 0;
// told to end because another process holds the guard, it exits 3.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "base/application.h"
#include "base/platform.h"
#include "base/windowing_headless.h"

int main() {
  bool told_to_end = false;
  {
    auto windowing = std::make_unique<qvpa::HeadlessWindowing>();
    windowing->SetExitHook([&told_to_end] { told_to_end = true; });
    qvpa::tQV_ApplicationScope scope(qvpa::platform::CommandLineParameters(),
                                     std::move(windowing));
    scope.Application().SetSingleInstance(true);
    if (!told_to_end) {
      std::puts("held");
      std::fflush(stdout);
      char c;
      while (::read(STDIN_FILENO, &c, 1) > 0) {
      }
    }
  }
  return told_to_end ? 3 : 0;
}
