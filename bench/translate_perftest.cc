// The per-line costs of a dry run, measured one by one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "gcode/command_composer.h"
#include "link/validator_table.h"
#include "runner/run_state.h"

namespace {

char validator_text[validator_text_size];

void load_table() {
  reset_run_state();
  std::memcpy(validator_text, builtin_validator_text, validator_text_size);
  std::FILE* saved = stdout;
  stdout = std::fopen("/dev/null", "w");
  reload_validator_table(validator_text);
  std::fclose(stdout);
  stdout = saved;
}

void translate_motion_line(benchmark::State& state) {
  load_table();  // no translation log: this measures the translation alone
  const char* lines[2] = {"N120 G01 X1.2345 Y0.5000 Z2.0000 (pass 3)",
                          "G01 X0.2500 Y1.7500 Z1.9000"};
  char line[128];
  int i = 0;
  for (auto _ : state) {
    std::strcpy(line, lines[i ^= 1]);
    const char* command = nullptr;
    benchmark::DoNotOptimize(translate_gcode_line(line, command));
    benchmark::DoNotOptimize(command);
  }
  free_validator_table();
}
BENCHMARK(translate_motion_line);

void validator_lookup(benchmark::State& state) {
  load_table();
  // The last entries of the table are the worst case of the linear scan.
  const char* commands[2] = {"z_move_steps d 440", "xyz_linear_move_steps xy rt 607,303"};
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(find_validator(commands[i ^= 1]));
  free_validator_table();
}
BENCHMARK(validator_lookup);

}  // namespace

BENCHMARK_MAIN();
