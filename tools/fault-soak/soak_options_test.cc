#include "tools/fault-soak/soak_options.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace qvpa::soak {
namespace {

TEST(SoakOptions, ReadsEverySettingAndRefusesNonsense) {
  const SoakOptions o = ParseSoakOptions({"--operations", "10000", "--devices=2", "--fault-rate", "0.25", "--seed",
                                          "7", "--timeout-ms", "800", "--library", "/l.so", "--service", "/sim",
                                          "--keep", "--memory-limit-kib=512", "--hold-bytes-per-operation", "100"});
  EXPECT_EQ(o.operations, 10000);
  EXPECT_EQ(o.devices, 2);
  EXPECT_DOUBLE_EQ(o.fault_rate, 0.25);
  EXPECT_EQ(o.seed, 7u);
  EXPECT_EQ(o.timeout_ms, 800);
  EXPECT_EQ(o.library, "/l.so");
  EXPECT_TRUE(o.keep);
  EXPECT_EQ(o.memory_limit_kib, 512);
  EXPECT_EQ(o.hold_bytes_per_operation, 100);
  const std::vector<std::vector<std::string>> bad = {
      {"--devices", "0"}, {"--fault-rate", "1.5"}, {"--operations", "2.5"}, {"--seed"}, {"--timeout-ms", "x"},
      {"--hold-bytes-per-operation", "-1"}, {"--loud"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseSoakOptions(args), std::invalid_argument) << args[0];
}

}  // namespace
}  // namespace qvpa::soak
