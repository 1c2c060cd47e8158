// fault-soak: payment cycles on several devices in parallel through the driver library's
// exports, against the local service injecting random faults from a seed; every call checked
// against the service's own record. Prints the figures; exits 1 on any violation.
//   fault-soak [--operations N] [--devices D] [--fault-rate R] [--seed S] [--timeout-ms T]
//              [--library PATH] [--service PATH] [--folder DIR]
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "satispay/e2e_support.h"
#include "tools/fault-soak/device_worker.h"
#include "tools/fault-soak/log_check.h"
#include "tools/fault-soak/soak_options.h"

namespace {

using namespace qvpa::soak;

// The process's memory at one moment: what the kernel holds resident, and what the C
// allocator has handed out and not taken back (live allocations). Resident memory that grows
// while the live allocations stay flat is the allocator keeping freed memory, not data kept.
struct Memory {
  long resident_kib = 0;
  long live_kib = 0;
};

Memory MeasureMemory() {
  std::ifstream statm("/proc/self/statm");
  long pages_total = 0;
  long pages_resident = 0;
  statm >> pages_total >> pages_resident;
  const struct mallinfo2 heap = mallinfo2();
  return {pages_resident * (sysconf(_SC_PAGESIZE) / 1024), static_cast<long>((heap.uordblks + heap.hblkhd) / 1024)};
}

std::string ReadFile(const std::filesystem::path& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The device's log files, older parts (renamed with a time suffix when the file grew) first.
std::string DeviceLogText(const std::filesystem::path& aFolder, const std::string& aLogId) {
  std::vector<std::filesystem::path> files;
  const std::string prefix = "QVPA_SATISPAY_10_" + aLogId + "_";
  for (const auto& entry : std::filesystem::directory_iterator(aFolder)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) files.push_back(entry.path());
  }
  // "<prefix>yyyymmdd.log" sorts after its parts "<prefix>yyyymmdd_<time>.log".
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    return a.stem().string().size() != b.stem().string().size() ? a.stem().string().size() > b.stem().string().size()
                                                                : a < b;
  });
  std::string text;
  for (const auto& file : files) text += ReadFile(file);
  return text;
}

int Run(const SoakOptions& options) {
  const std::filesystem::path folder =
      options.folder.empty() ? std::filesystem::temp_directory_path() / ("qvpa-fault-soak-" + std::to_string(getpid()))
                             : std::filesystem::path(options.folder);
  std::filesystem::remove_all(folder);
  std::vector<std::string> tokens;
  for (int d = 1; d <= options.devices; ++d) tokens.push_back("SOAK" + std::to_string(d));
  qvpa::testing::LocalService service(options.service.c_str(), folder / "service", tokens);
  setenv("QVPA_LOG_DIR", (folder / "host").c_str(), 1);
  setenv("QVPA_SATISPAY_HOST", service.HostPort().c_str(), 1);
  setenv("QVPA_SATISPAY_CA_FILE", service.CaFile().c_str(), 1);
  const GroundTruth truth(service);
  SoakRun run(options.operations, options.seed);

  Memory memory_start, memory_warm, memory_end;
  long live_floor_early = std::numeric_limits<long>::max();
  long live_floor_late = std::numeric_limits<long>::max();
  std::vector<std::unique_ptr<DeviceWorker>> workers;
  std::chrono::duration<double> took{};
  {
    qvpa::host::DriverLibrary library(options.library);
    for (int d = 1; d <= options.devices; ++d) {
      const qvpa::host::Answer key = library.Call("GENERATE_KEYID", "token=" + tokens[d - 1] + "|staging=false");
      if (key.result != 1) throw std::runtime_error("key registration failed: " + key.error);
      const qvpa::host::Answer open = library.Call(
          "OPEN", "<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>SOAK" + std::to_string(d) +
                      "</LogId><Connection><Type>HTTP</Type></Connection><Parameters><KeyID>" + key.output +
                      "</KeyID><RequestTimeout>" + std::to_string(options.timeout_ms) +
                      "</RequestTimeout></Parameters></Request>");
      const size_t at = open.output.find("<Handle>");
      if (open.result != 0 || at == std::string::npos) throw std::runtime_error("OPEN failed: " + open.error);
      workers.push_back(std::make_unique<DeviceWorker>(d, library, truth, run, key.output,
                                                       std::stoi(open.output.substr(at + 8)),
                                                       std::chrono::milliseconds(options.timeout_ms), folder));
    }
    // Answers come later than the devices wait: a slow answer is a time-out for them.
    truth.Control("POST", "/control/faults/random",
                  {{"rate", options.fault_rate}, {"seed", options.seed}, {"slow_ms", options.timeout_ms + 1000}});
    memory_start = MeasureMemory();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    std::atomic<int> running{static_cast<int>(workers.size())};
    for (auto& worker : workers) {
      threads.emplace_back([&worker, &running] {
        worker->Run();
        running.fetch_sub(1);
      });
    }
    // Memory is sampled while every device works. Live allocations rise and fall with the calls
    // in flight, so each window is judged by its lowest sample: what stays held between calls.
    std::vector<std::unique_ptr<char[]>> held;  // --hold-bytes-per-operation
    long held_for = 0;
    while (running.load() > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const long done = run.operations();
      for (; options.hold_bytes_per_operation > 0 && held_for < done; ++held_for) {
        held.push_back(std::make_unique<char[]>(static_cast<size_t>(options.hold_bytes_per_operation)));
      }
      const Memory now = MeasureMemory();
      if (done < options.operations / 5) continue;  // warm-up: the first fifth
      if (memory_warm.resident_kib == 0) memory_warm = now;
      if (running.load() < static_cast<int>(workers.size())) continue;  // some devices done: less in flight
      if (done < 2 * options.operations / 5) live_floor_early = std::min(live_floor_early, now.live_kib);
      if (done >= 4 * options.operations / 5) live_floor_late = std::min(live_floor_late, now.live_kib);
    }
    for (std::thread& thread : threads) thread.join();
    took = std::chrono::steady_clock::now() - start;
    memory_end = MeasureMemory();
    truth.Control("POST", "/control/faults/random", {{"rate", 0}});
    for (auto& worker : workers)
      library.Call("CLOSE", "<Request><Handle>" + std::to_string(worker->handle()) + "</Handle></Request>");
  }  // unloaded: every log line is in its file

  // At the end, over everything the service holds: one payment per reference, refunds within
  // their payments.
  int violations = run.violations();
  const nlohmann::json all = truth.Control("GET", "/control/payments")["data"];
  std::map<std::string, int> per_reference;
  std::map<std::string, int64_t> refunded, amounts;
  for (const nlohmann::json& p : all) {
    if (p.contains("external_code")) ++per_reference[p["external_code"].get<std::string>()];
    if (p.contains("parent_payment_uid")) refunded[p["parent_payment_uid"]] += p["amount_unit"].get<int64_t>();
    else amounts[p["id"]] = p["amount_unit"].get<int64_t>();
  }
  for (const auto& [reference, count] : per_reference) {
    if (count > 1) {
      std::fprintf(stderr, "VIOLATION (seed %llu): %d payments carry reference %s\n",
                   static_cast<unsigned long long>(options.seed), count, reference.c_str());
      ++violations;
    }
  }
  for (const auto& [parent, sum] : refunded) {
    if (sum > amounts[parent]) {
      std::fprintf(stderr, "VIOLATION (seed %llu): payment %s refunded %lld of %lld\n",
                   static_cast<unsigned long long>(options.seed), parent.c_str(), static_cast<long long>(sum),
                   static_cast<long long>(amounts[parent]));
      ++violations;
    }
  }
  // 7. Every request the service received is in the device's log, in order, with its answer.
  for (const auto& worker : workers) {
    const std::string log_id = "SOAK" + std::to_string(&worker - &workers.front() + 1);
    const DeviceLog log = ReadDeviceLog(DeviceLogText(folder / "host" / "LogFiles" / "Payment", log_id));
    for (const std::string& problem : CheckReceivedInLog(log, worker->received())) {
      std::fprintf(stderr, "VIOLATION (seed %llu, log of %s): %s\n", static_cast<unsigned long long>(options.seed),
                   log_id.c_str(), problem.c_str());
      ++violations;
    }
  }
  // 8. Memory flat after warm-up, judged on long runs only, on what the process keeps
  // allocated between calls. Resident memory is reported beside it: with a thread per device,
  // the C allocator keeps freed memory in per-thread arenas, so resident memory can creep while
  // nothing is kept (run with MALLOC_ARENA_MAX=1 to see the difference).
  const long growth = memory_end.resident_kib - memory_warm.resident_kib;
  const bool judged = options.operations >= 2000 && live_floor_early != std::numeric_limits<long>::max() &&
                      live_floor_late != std::numeric_limits<long>::max();
  const long live_growth = judged ? live_floor_late - live_floor_early : 0;
  if (judged && live_growth >= options.memory_limit_kib) {
    std::fprintf(stderr, "VIOLATION (seed %llu): live allocations grew by %ld KiB after warm-up\n",
                 static_cast<unsigned long long>(options.seed), live_growth);
    ++violations;
  }

  const nlohmann::json random = truth.Control("GET", "/control/faults/random");
  std::printf("fault soak: seed %llu, %d devices, fault rate %.2f, request time limit %d ms\n",
              static_cast<unsigned long long>(options.seed), options.devices, options.fault_rate, options.timeout_ms);
  std::printf("operations %ld in %.1f s: %.1f per second\n", run.operations(), took.count(),
              static_cast<double>(run.operations()) / took.count());
  std::printf("resident memory: %ld KiB at start, %ld KiB after warm-up, %ld KiB at the end (%+ld KiB)\n",
              memory_start.resident_kib, memory_warm.resident_kib, memory_end.resident_kib, growth);
  if (judged) {
    std::printf("live allocations between calls: %ld KiB in the second fifth, %ld KiB in the last (%+ld KiB)\n",
                live_floor_early, live_floor_late, live_growth);
  }
  std::printf("faults drawn by the service:");
  for (const auto& [label, count] : random["counts"].items()) std::printf(" %s %lld", label.c_str(), count.get<long long>());
  std::printf("\nfaults met per call, by how the call ended:\n");
  for (const auto& [fault, outcomes] : run.tally()) {
    std::printf("  %s:", fault.c_str());
    for (const auto& [outcome, count] : outcomes) std::printf(" [%s] %ld", outcome.c_str(), count);
    std::printf("\n");
  }
  std::printf("violations: %d\n", violations);
  if (violations == 0 && !options.keep) std::filesystem::remove_all(folder);
  return violations == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const SoakOptions options = ParseSoakOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::printf("%s", SoakUsage().c_str());
      return 0;
    }
    return Run(options);
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "fault-soak: %s\n%s", error.what(), SoakUsage().c_str());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fault-soak: %s\n", error.what());
    return 1;
  }
}
