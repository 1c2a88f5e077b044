// Waiting for something that another thread or process does, for the tests
// that drive windows: a check every 20 ms, up to a limit.
#pragma once

#include <windows.h>

namespace testing_support {

// Polls until `done` holds or `milliseconds` have passed; whether it held.
template <typename Condition>
bool WaitUntil(Condition done, int milliseconds = 5000) {
  constexpr int kEvery = 20;
  for (int waited = 0; !done(); waited += kEvery) {
    if (waited >= milliseconds) return false;
    ::Sleep(kEvery);
  }
  return true;
}

}  // namespace testing_support
