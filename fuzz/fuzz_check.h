// QAR_FUZZ_CHECK: a property of a fuzz target; a failure is reported and aborts, so libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QAR_FUZZ_CHECK(condition)                                                         \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (false)
