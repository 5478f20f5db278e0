#include "support/process.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/live_process.h"

temp_dir::temp_dir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/millrun-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void temp_dir::write(const std::string& name, const std::string& contents) const {
  std::ofstream out(file(name), std::ios::binary);
  out << contents;
}

std::string temp_dir::read(const std::string& name) const { return read_file(file(name)); }

bool temp_dir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

process_result run_process(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::vector<std::string>& env, int timeout_ms) {
  process_result result;
  live_process child;
  if (!child.start(argv, cwd, env)) return result;
  // millrun may run under a wrapper (valgrind), which takes its time.
  result.timed_out = !child.wait_exit(timeout_ms * test_time_scale());
  result.exit_code = child.exit_code;
  result.out = std::move(child.out);
  result.err = std::move(child.err);
  return result;
}

std::string without_estimate(const std::string& err) {
  const std::string prefix = "Estimated machine time: ";
  const std::string suffix = " (h:mm:ss)\n";
  size_t start = err.rfind(prefix);
  if (start == std::string::npos || (start != 0 && err[start - 1] != '\n')) return err;
  std::string tail = err.substr(start + prefix.size());
  if (tail.size() < suffix.size() ||
      tail.compare(tail.size() - suffix.size(), suffix.size(), suffix) != 0)
    return err;
  std::string clock = tail.substr(0, tail.size() - suffix.size());
  // h:mm:ss, hours of any length
  size_t colon = clock.find(':');
  if (colon == std::string::npos || colon == 0 || clock.size() != colon + 6 ||
      clock[colon + 3] != ':')
    return err;
  for (size_t i = 0; i < clock.size(); ++i)
    if (i != colon && i != colon + 3 && (clock[i] < '0' || clock[i] > '9')) return err;
  return err.substr(0, start);
}
