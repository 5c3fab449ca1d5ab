// Violated preconditions are programming errors: the program stops with the text of
// the condition that failed.
#pragma once

namespace lb {
[[noreturn]] void AssertionFailed(const char* condition, const char* file, int line);
}

#define LB_ASSERT(cond) \
  ((cond) ? static_cast<void>(0) : ::lb::AssertionFailed(#cond, __FILE__, __LINE__))
