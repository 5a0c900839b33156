// Which values of CI make a missing real peer a failure rather than a skip, and the failure itself.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/RealPeers.h"

namespace {

struct CiCase {
  const char* value;  // nullptr: CI not set
  bool required;
};

class RealPeers : public testing::TestWithParam<CiCase> {};

TEST_P(RealPeers, RequiredOnlyWhenCiSaysSo) {
  EXPECT_EQ(testsupport::RealPeersRequired(GetParam().value), GetParam().required)
      << (GetParam().value != nullptr ? GetParam().value : "(unset)");
}

INSTANTIATE_TEST_SUITE_P(Values, RealPeers,
                         testing::Values(CiCase{nullptr, false}, CiCase{"", false}, CiCase{"true", true},
                                         CiCase{"TRUE", true}, CiCase{"1", true}, CiCase{"false", false},
                                         CiCase{"0", false}, CiCase{"truex", false}));

void NeedsAPeerThatDidNotStart() { QS_NEEDS_REAL_PEER(false, "the server did not start"); }
void NeedsAPeerThatStarted() { QS_NEEDS_REAL_PEER(true, "unused"); }

TEST(RealPeersUnderCi, AMissingPeerFailsTheTestAndAPresentOneDoesNothing) {
  const char* old = std::getenv("CI");
  const std::string saved = old != nullptr ? old : "";
  setenv("CI", "true", 1);
  EXPECT_FATAL_FAILURE(NeedsAPeerThatDidNotStart(), "CI=true needs this real peer, which did not start: the server did not start");
  EXPECT_NO_FATAL_FAILURE(NeedsAPeerThatStarted());
  if (old != nullptr) {
    setenv("CI", saved.c_str(), 1);
  } else {
    unsetenv("CI");
  }
}

}  // namespace
