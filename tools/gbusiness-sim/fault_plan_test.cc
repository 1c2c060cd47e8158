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

}  // namespace
}  // namespace qvpa::gbsim
