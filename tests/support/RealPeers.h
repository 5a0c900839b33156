// Tests that need a real server or program (pyftpdlib, vsftpd, telnet, Xvfb) start it themselves.
// When it cannot start, a developer's machine skips the test; CI (CI=true) fails it instead, so a
// green CI run means every such test really ran against its peer.
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

// True when the environment says this is a CI run: CI set to "true" or "1" (any case).
bool RealPeersRequired(const char* ciVariable);
bool RealPeersRequired();

}  // namespace testsupport

// Use at the top of a test body or fixture SetUp: QS_NEEDS_REAL_PEER(server != nullptr, reason);
// ends the test (skipped, or failed under CI) when available is false.
#define QS_NEEDS_REAL_PEER(available, why)                                              \
  if (available) {                                                                      \
  } else if (::testsupport::RealPeersRequired())                                        \
    GTEST_FAIL() << "CI=true needs this real peer, which did not start: " << why;       \
  else                                                                                  \
    GTEST_SKIP() << why
