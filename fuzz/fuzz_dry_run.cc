// libFuzzer target: the input is a script (up to three files and the
// controller's output, see fuzz_cases.h), run as a whole dry run.
#include <cstdio>
#include <cstdlib>

#include "fuzz_cases.h"

namespace {
std::string scratch;
void remove_scratch() { fuzz_cases::remove_scratch_dir(scratch); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_cases::quiet_process();
  scratch = fuzz_cases::make_scratch_dir();
  std::atexit(&remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem = fuzz_cases::run_dry_run_case(data, size, scratch);
  if (!problem.empty()) {
    std::fprintf(stderr, "fuzz_dry_run: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
