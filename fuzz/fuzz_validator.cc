// libFuzzer target: the input is a validator text, a pattern and a text to
// match, separated by zero bytes (see fuzz_cases.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz_cases.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_cases::quiet_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem = fuzz_cases::run_validator_case(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "fuzz_validator: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
