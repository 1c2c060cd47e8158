#include "tools/gbusiness-sim/fault_plan.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace qvpa::gbsim {
namespace {

TEST(FaultPlan, MatchesByMethodAndPathPrefixForCountUses) {
  FaultPlan plan;
  plan.Add(ParseFault({{"kind", "status"}, {"status", 503}, {"count", 2}, {"method", "get"},
                       {"path", "/g_business/v1/payments/"}}));
  EXPECT_FALSE(plan.Take("POST", "/g_business/v1/payments/1", false));
  EXPECT_FALSE(plan.Take("GET", "/g_business/v1/daily_closure/20240101", false));
  EXPECT_EQ(plan.Take("GET", "/g_business/v1/payments/1", false)->status, 503);
  EXPECT_TRUE(plan.Take("GET", "/g_business/v1/payments/2", false));
  EXPECT_FALSE(plan.Take("GET", "/g_business/v1/payments/3", false));
  EXPECT_TRUE(plan.Pending().empty());
}

TEST(FaultPlan, TakesTheFirstAddedAndKeepsEndlessPagingForListings) {
  FaultPlan plan;
  plan.Add(ParseFault({{"kind", "endless_paging"}}));
  plan.Add(ParseFault({{"kind", "delay"}, {"delay_ms", 5}}));
  EXPECT_EQ(plan.Take("GET", "/g_business/v1/payments/1", false)->kind, FaultKind::kDelay);
  EXPECT_FALSE(plan.Take("GET", "/g_business/v1/payments/1", false));
  EXPECT_EQ(plan.Take("GET", "/g_business/v1/payments", true)->kind, FaultKind::kEndlessPaging);
  plan.Add(ParseFault({{"kind", "close"}}));
  plan.Clear();
  EXPECT_FALSE(plan.Take("GET", "/", true));
}

TEST(FaultPlan, RefusesMalformedFaults) {
  const nlohmann::json bad[] = {
      nlohmann::json::array(),          {{"kind", "explode"}},           {{"kind", "status"}, {"status", 99}},
      {{"kind", "status"}, {"count", 0}}, {{"kind", "delay"}, {"delay_ms", "5"}}, {{"kind", "close"}, {"path", 3}},
  };
  for (const auto& value : bad) EXPECT_THROW(ParseFault(value), std::invalid_argument) << value.dump();
}

// The same seed draws the same faults; every kind comes up, the empty page only for listings;
// the rate holds roughly; rate 0 draws nothing.
TEST(RandomFaults, DrawEveryKindFromTheSeedAtTheRate) {
  auto run = [](double rate, uint64_t seed, bool listing) {
    RandomFaults random;
    random.Configure({rate, seed, 1234});
    std::vector<std::string> drawn;
    for (int i = 0; i < 4000; ++i) {
      if (random.RefuseConnection()) drawn.push_back("refused");
      const std::optional<Fault> fault = random.Draw(listing);
      drawn.push_back(fault ? fault->label : "");
      if (fault && fault->kind == FaultKind::kSlow) {
        EXPECT_EQ(fault->delay_ms, 1234);
      }
    }
    return std::make_pair(drawn, random.State());
  };
  const auto [first, first_state] = run(0.2, 7, true);
  EXPECT_EQ(first, run(0.2, 7, true).first);
  EXPECT_NE(first, run(0.2, 8, true).first);
  int64_t faults = 0;
  for (const std::string& label : RandomFaults::Labels()) {
    EXPECT_GT(first_state["counts"][label].get<int64_t>(), 0) << label;
    if (label != "refused") faults += first_state["counts"][label].get<int64_t>();
  }
  EXPECT_NEAR(static_cast<double>(faults) / 4000, 0.2, 0.03);
  EXPECT_EQ(first_state["seed"], 7);

  const auto [services, service_state] = run(0.5, 7, false);
  EXPECT_EQ(service_state["counts"]["empty_page_with_more"], 0);
  EXPECT_GT(service_state["counts"]["reset_during_answer"], 0);

  const auto [none, none_state] = run(0, 7, true);
  for (const std::string& label : none) EXPECT_EQ(label, "");
}

}  // namespace
}  // namespace qvpa::gbsim
