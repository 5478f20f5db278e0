// The Windows device layer on what Windows itself offers without hardware:
// plain files and named pipes. (A serial port is exercised end to end on
// the simulator through Wine's COM1 by tools/test-windows.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/device.h"
#include "platform/platform.h"
#include "process_win32.h"

namespace {

class WindowsDevice : public testing::Test {
 protected:
  void TearDown() override { platform_clear_stop(); }
  temp_dir dir_;
};

std::string read_all(device& d) {
  std::string text;
  unsigned char byte = 0;
  while (d.read_pending_byte(byte) == read_status::byte) text += static_cast<char>(byte);
  return text;
}

TEST_F(WindowsDevice, FileIsCreatedWhenMissingAndKeptWhenThere) {
  const std::string path = dir_.file("link.txt");
  port_handle h = platform_open_device(path.c_str(), port_kind::file, open_disposition::always);
  ASSERT_NE(h, nullptr);
  platform_close_device(h);
  EXPECT_TRUE(dir_.exists("link.txt"));
  EXPECT_EQ(dir_.read("link.txt"), "");

  // Neither truncated nor positioned at its end: a write lands at the start.
  dir_.write("link.txt", "abcdef");
  h = platform_open_device(path.c_str(), port_kind::file, open_disposition::always);
  ASSERT_NE(h, nullptr);
  size_t written = 0;
  EXPECT_TRUE(h->write("XY\n", 3, written));
  EXPECT_EQ(written, 3u);
  platform_close_device(h);
  EXPECT_EQ(dir_.read("link.txt"), "XY\ndef");  // bytes as given: no CR added
}

TEST_F(WindowsDevice, ExistingDeviceMustExist) {
  const std::string path = dir_.file("absent.txt");
  EXPECT_EQ(platform_open_device(path.c_str(), port_kind::file, open_disposition::existing),
            nullptr);
  EXPECT_FALSE(dir_.exists("absent.txt"));
  EXPECT_EQ(platform_open_device("\\\\.\\COM97", port_kind::serial, open_disposition::existing),
            nullptr);
}

TEST_F(WindowsDevice, NobodyElseMayOpenWhatIsOpen) {
  const std::string path = dir_.file("link.txt");
  port_handle first = platform_open_device(path.c_str(), port_kind::file, open_disposition::always);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(platform_open_device(path.c_str(), port_kind::file, open_disposition::always), nullptr);
  // Nor another program, whatever it asks to share.
  HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  platform_close_device(first);

  port_handle again = platform_open_device(path.c_str(), port_kind::file, open_disposition::always);
  EXPECT_NE(again, nullptr);
  platform_close_device(again);
}

TEST_F(WindowsDevice, FileEndMeansGoneForBothReads) {
  dir_.write("reply.txt", "X\r\n");
  const std::string path = dir_.file("reply.txt");
  port_handle h = platform_open_device(path.c_str(), port_kind::file, open_disposition::existing);
  ASSERT_NE(h, nullptr);
  unsigned char byte = 0;
  ASSERT_EQ(h->wait_byte(byte), read_status::byte);
  EXPECT_EQ(byte, 'X');
  EXPECT_EQ(read_all(*h), "\r\n");
  // At the end no byte will ever come: neither read waits for one.
  EXPECT_EQ(h->read_pending_byte(byte), read_status::gone);
  EXPECT_EQ(h->wait_byte(byte), read_status::gone);
  platform_close_device(h);
}

TEST_F(WindowsDevice, FileRefusesLineSettings) {
  const std::string path = dir_.file("link.txt");
  port_handle h = platform_open_device(path.c_str(), port_kind::file, open_disposition::always);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(h->apply_line_settings(line_settings{}));
  platform_close_device(h);
}

/// The server end of a named pipe, which a script can name as its link.
class pipe_server {
 public:
  pipe_server() {
    name_ = "\\\\.\\pipe\\millrun-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++count_);
    handle_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                               4096, 4096, 0, nullptr);
  }
  ~pipe_server() { close(); }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  const std::string& name() const { return name_; }
  bool send(const std::string& bytes) {
    DWORD n = 0;
    return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
           n == bytes.size();
  }
  std::string receive(size_t count) {
    std::string bytes(count, '\0');
    DWORD n = 0;
    if (!ReadFile(handle_, bytes.data(), static_cast<DWORD>(count), &n, nullptr)) return {};
    bytes.resize(n);
    return bytes;
  }
  void close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  static inline int count_ = 0;
  std::string name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(WindowsDevice, PipeDrainsWithoutWaitingAndWaitsForAReply) {
  pipe_server server;
  ASSERT_TRUE(server.ok());
  port_handle h =
      platform_open_device(server.name().c_str(), port_kind::file, open_disposition::existing);
  ASSERT_NE(h, nullptr);
  unsigned char byte = 0;
  // Nothing pending: the drain's read comes back at once.
  EXPECT_EQ(h->read_pending_byte(byte), read_status::nothing);
  ASSERT_TRUE(server.send("\nok"));
  EXPECT_EQ(read_all(*h), "\nok");

  size_t written = 0;
  ASSERT_TRUE(h->write("z_home u\n", 9, written));
  EXPECT_EQ(written, 9u);
  EXPECT_EQ(server.receive(9), "z_home u\n");

  // The reply comes later: the wait takes it when it arrives.
  std::thread controller([&] {
    Sleep(50);
    server.send("X");
  });
  EXPECT_EQ(h->wait_byte(byte), read_status::byte);
  EXPECT_EQ(byte, 'X');
  controller.join();

  server.close();
  EXPECT_EQ(h->read_pending_byte(byte), read_status::gone);
  EXPECT_EQ(h->wait_byte(byte), read_status::gone);
  platform_close_device(h);
}

TEST_F(WindowsDevice, StopAskedForBeforeAWaitMeansGone) {
  pipe_server server;
  ASSERT_TRUE(server.ok());
  port_handle h =
      platform_open_device(server.name().c_str(), port_kind::file, open_disposition::existing);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(server.send("X"));
  platform_request_stop();
  unsigned char byte = 0;
  EXPECT_EQ(h->wait_byte(byte), read_status::gone);
  platform_clear_stop();
  EXPECT_EQ(h->wait_byte(byte), read_status::byte);
  EXPECT_EQ(byte, 'X');
  platform_close_device(h);
}

// ---------------------------------------------------------------------------
// The sleep, the stop request and the clock.

TEST_F(WindowsDevice, SleepTakesItsTimeAndAStopEndsItAtOnce) {
  uint64_t start = platform_now_ms();
  EXPECT_TRUE(platform_sleep_ms(40));
  EXPECT_GE(platform_now_ms() - start, 40u);

  // A stop from elsewhere (the console's Ctrl-C runs on a thread of its own)
  // ends a long sleep, and one requested before a sleep ends it unbegun.
  start = platform_now_ms();
  std::thread stopper([] {
    Sleep(50);
    platform_request_stop();
  });
  EXPECT_FALSE(platform_sleep_ms(20000));
  stopper.join();
  EXPECT_LT(platform_now_ms() - start, 5000u);
  EXPECT_TRUE(platform_stop_requested());
  start = platform_now_ms();
  EXPECT_FALSE(platform_sleep_ms(20000));
  EXPECT_LT(platform_now_ms() - start, 1000u);

  platform_clear_stop();
  EXPECT_FALSE(platform_stop_requested());
  EXPECT_TRUE(platform_sleep_ms(1));
}

TEST_F(WindowsDevice, MessageAlsoGoesToStandardError) {
  // Without a desktop (as here) the box cannot be shown and the call returns;
  // the message is on standard error either way, its carriage return a new
  // line there.
  testing::internal::CaptureStderr();
  platform_show_message("Unknown GCode @ job.nc:1", "Invalid GCode @ job.nc:1:\r    G02 X1");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unknown GCode @ job.nc:1\nInvalid GCode @ job.nc:1:\n    G02 X1\n");
}

}  // namespace
