#include "app/core/NewtonAddress.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace driftpost {
namespace {

using Lines = std::vector<std::string>;

TEST(NewtonAddressTest, OneLinePerReachableAddressWithoutPort80) {
  const std::vector<TInterfaceAddress> machine = {
      {"127.0.0.1", true}, {"192.168.1.20", false}, {"10.0.0.7", false}, {"192.168.1.20", false}};
  EXPECT_EQ(NewtonAddressLines(machine, "8080"),
            (Lines{"Open http://192.168.1.20:8080/ on the Newton", "Open http://10.0.0.7:8080/ on the Newton"}));
  EXPECT_EQ(NewtonAddressLines(machine, "80"),
            (Lines{"Open http://192.168.1.20/ on the Newton", "Open http://10.0.0.7/ on the Newton"}));
}

TEST(NewtonAddressTest, LoopbackOnlyWhenThereIsNothingElse) {
  EXPECT_EQ(NewtonAddressLines({{"127.0.0.1", true}}, "8080"), Lines{"Open http://127.0.0.1:8080/ on the Newton"});
  EXPECT_EQ(NewtonAddressLines({}, "80"), Lines{"Open http://127.0.0.1/ on the Newton"});
}

TEST(NewtonAddressTest, TheMachinesOwnListHoldsItsLoopbackInterface) {
  const std::vector<TInterfaceAddress> machine = LocalIPv4Addresses();
  EXPECT_TRUE(std::any_of(machine.begin(), machine.end(), [](const TInterfaceAddress& entry) {
    return entry.Loopback && entry.Address.starts_with("127.");
  }));
  for (const TInterfaceAddress& entry : machine) EXPECT_EQ(entry.Loopback, entry.Address.starts_with("127."));
}

}  // namespace
}  // namespace driftpost
