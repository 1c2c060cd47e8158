#include "tools/gbusiness-sim/options.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace qvpa::gbsim {
namespace {

TEST(Options, ReadsBothSpellingsAndRepeats) {
  const Options o = ParseOptions({"--port", "0", "--port-file=/tmp/p", "--token", "AAA111", "--token=BBB222",
                                  "--accept-after", "3", "--cert-dir", "/tmp/c", "--san", "host.test",
                                  "--public-key", "kid=/tmp/k.pem", "--quiet"});
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.port_file, "/tmp/p");
  EXPECT_EQ(o.tokens, (std::vector<std::string>{"AAA111", "BBB222"}));
  EXPECT_EQ(o.accept_after, 3);
  EXPECT_EQ(o.cert_dir, "/tmp/c");
  EXPECT_EQ(o.extra_names, std::vector<std::string>{"host.test"});
  ASSERT_EQ(o.key_files.size(), 1u);
  EXPECT_EQ(o.key_files[0], (std::pair<std::string, std::string>{"kid", "/tmp/k.pem"}));
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(ParseOptions({}).accept_after, -1);
  EXPECT_EQ(ParseOptions({}).fault_rate, 0);
  const Options faults = ParseOptions({"--fault-rate", "20%", "--seed=42", "--slow-ms", "1500"});
  EXPECT_DOUBLE_EQ(faults.fault_rate, 0.2);
  EXPECT_EQ(faults.seed, 42u);
  EXPECT_EQ(faults.slow_ms, 1500);
  EXPECT_DOUBLE_EQ(ParseOptions({"--fault-rate=0.05"}).fault_rate, 0.05);
}

TEST(Options, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "70000"}, {"--port", "12x"},       {"--port"},           {"--accept-after", "-1"},
      {"--cert", "c.pem"}, {"--list-status", "ALL"}, {"--public-key", "x"}, {"--public-key", "=f"},
      {"--verbose"},       {"--fault-rate", "1.5"}, {"--fault-rate", "-0.1"}, {"--fault-rate", "20%%"},
      {"--seed", "x"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseOptions(args), std::invalid_argument) << args[0];
}

}  // namespace
}  // namespace qvpa::gbsim
