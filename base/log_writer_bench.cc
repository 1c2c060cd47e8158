// Log writer throughput: lines per second that reach the file (write N lines, destroy
// the writer, which returns once every line is on disk).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "base/log_writer.h"
#include "base/text.h"

namespace qvpa {
namespace {

void BM_LinesReachingTheFile(benchmark::State& state) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qvpa-bench-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::u16string dir = FromUtf8(tmpl);
  const std::u16string message(80, u'm');
  const int64_t lines = state.range(0);
  for (auto _ : state) {
    tQV_LogWriter writer(u"bench", dir, 0, false);
    writer.SetMaxLogFileSize(1 << 30);  // measure appending, not rollover
    for (int64_t i = 0; i < lines; ++i) writer.Write(tQV_MessageType::let_info, message);
  }
  state.SetItemsProcessed(state.iterations() * lines);
  std::filesystem::remove_all(tmpl);
}
BENCHMARK(BM_LinesReachingTheFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qvpa
