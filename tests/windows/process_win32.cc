// The helpers of support/process.h on Windows, and the Windows-only ones of
// process_win32.h. The shared tests state their expectations with line
// feeds; the files millrun writes as text, and what it prints, carry CR LF
// here, which is checked for every line and then read back as a line feed.
#include "process_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string raw_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// Reads a pipe to its end on a thread of its own, so that neither pipe can
/// fill up while the other is read.
class pipe_reader {
 public:
  explicit pipe_reader(HANDLE pipe) : pipe_(pipe), thread_([this] { run(); }) {}
  ~pipe_reader() { finish(); }
  std::string finish() {
    if (thread_.joinable()) thread_.join();
    return text_;
  }

 private:
  void run() {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe_, buffer, sizeof buffer, &got, nullptr) && got > 0)
      text_.append(buffer, got);
  }
  HANDLE pipe_;
  std::string text_;
  std::thread thread_;
};

}  // namespace

// ---------------------------------------------------------------------------
// support/process.h

temp_dir::temp_dir() {
  char base[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "millrun-test-%lu-%llu-%u", GetCurrentProcessId(),
                  static_cast<unsigned long long>(GetTickCount64()), attempt);
    std::string candidate = std::string(base) + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void temp_dir::write(const std::string& name, const std::string& contents) const {
  std::ofstream out(file(name), std::ios::binary);
  out << contents;
}

std::string temp_dir::read(const std::string& name) const {
  std::string bytes = raw_file(file(name));
  return is_text_output(name) ? text_contents(bytes, name) : bytes;
}

bool temp_dir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string read_file(const std::string& path) {
  std::string bytes = raw_file(path);
  return is_text_output(base_name(path)) ? text_contents(bytes, path) : bytes;
}

process_result run_process(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::vector<std::string>& env, int timeout_ms) {
  // The words joined by blanks, unquoted: the command line a user types.
  std::string line;
  for (const std::string& word : argv) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  // The child inherits this process's environment: set the entries for it,
  // then put back what was there (or nothing).
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const std::string& entry : env) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string name = entry.substr(0, eq);
    char old[32768];
    DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    saved.emplace_back(name, n > 0 && n < sizeof old
                                 ? std::optional<std::string>(std::string(old, n))
                                 : std::nullopt);
    SetEnvironmentVariableA(name.c_str(), entry.c_str() + eq + 1);
  }
  process_result r =
      run_command_line(argv.empty() ? std::string() : argv[0], line, cwd, timeout_ms);
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
  return r;
}

// ---------------------------------------------------------------------------
// process_win32.h

std::string program_beside_tests(const std::string& file_name) {
  char self[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, length);
  size_t slash = path.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + file_name;
}

process_result run_command_line(const std::string& application, const std::string& command_line,
                                const std::string& cwd, int timeout_ms) {
  process_result result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return result;
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return result;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION child{};
  std::string line = command_line;  // CreateProcessA may write into it
  BOOL started = CreateProcessA(application.empty() ? nullptr : application.c_str(), line.data(),
                                nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &startup, &child);
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (null_in != INVALID_HANDLE_VALUE) CloseHandle(null_in);
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
  }
  CloseHandle(child.hThread);
  std::string out, err;
  {
    pipe_reader out_reader(out_read), err_reader(err_read);
    if (WaitForSingleObject(child.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
      result.timed_out = true;
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, INFINITE);
    }
    out = out_reader.finish();
    err = err_reader.finish();
  }
  DWORD code = 0;
  if (!result.timed_out && GetExitCodeProcess(child.hProcess, &code))
    result.exit_code = static_cast<int>(code);
  CloseHandle(child.hProcess);
  CloseHandle(out_read);
  CloseHandle(err_read);
  result.out = text_contents(out, "standard output");
  result.err = text_contents(err, "standard error");
  return result;
}

std::string text_contents(const std::string& bytes, const std::string& what) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      text += '\n';
      ++i;
      continue;
    }
    if (bytes[i] == '\n') {
      ADD_FAILURE() << what << ": a line feed without its carriage return at byte " << i;
    }
    text += bytes[i];
  }
  return text;
}

bool is_text_output(const std::string& file_name) {
  return file_name == "KelCodeOutput.txt" || file_name == "EnvelopeReport.txt";
}
