#include "link/port_opening.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/fake_device.h"
#include "support/fake_terminal.h"
#include "support/message_recorder.h"
#include "support/run_fixture.h"

namespace {

TEST(PortKind, DecidedFromTheName) {
  struct kind_case {
    const char* name;
    port_kind kind;
  };
  const kind_case cases[] = {
      {"COM3", port_kind::serial},   {"com3", port_kind::serial},  {"COM12", port_kind::serial},
      {"COM 3", port_kind::serial},  {"com03", port_kind::serial}, {"COM0", port_kind::file},
      {"COM", port_kind::file},      {"COMX", port_kind::file},    {"LPT1", port_kind::parallel},
      {"lpt2", port_kind::parallel}, {"LPT0", port_kind::file},    {"job.link", port_kind::file},
  };
  for (const kind_case& c : cases) EXPECT_EQ(port_kind_of(c.name), c.kind) << c.name;
}

class PortOpening : public run_fixture {};

TEST_F(PortOpening, SerialPortIsOpenedRawAt9600AndExclusively) {
  fake_terminal port;  // the settings seen are millrun's alone
  ASSERT_FALSE(port.device().empty());
  port.publish_as_com(5);
  message_recorder messages;
  port_handle handle = nullptr;
  ASSERT_TRUE(open_comm_port("COM5", false, 9600, &handle));
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(port_memory().device_path, "\\\\.\\COM5");
  EXPECT_EQ(port_memory().baud, 9600);
  EXPECT_FALSE(port_memory().lpc2000);

  int probe = open(port.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(probe, &t), 0);
  close(probe);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  // No sharing: a second opening while the first is open fails.
  fake_device earlier;
  port_handle second = &earlier;  // overwritten with null, never closed
  EXPECT_FALSE(open_comm_port("COM5", false, 9600, &second));
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(messages.all().size(), 1u);
  EXPECT_EQ(messages.all()[0].text, "An error occurred while trying to open Serial Port \"COM5\"");

  // Once closed, the remembered device opens again.
  close_port(handle);
  handle = nullptr;
  EXPECT_TRUE(reopen_remembered_port(&handle));
  EXPECT_NE(handle, nullptr);
  close_port(handle);
}

TEST_F(PortOpening, MissingSerialPortIsReportedAndRemembered) {
  struct missing_case {
    const char* name;
    const char* variable;
    const char* path;
    const char* kind;
  };
  const missing_case cases[] = {
      {"COM9", "MILLRUN_COM9", "\\\\.\\COM9", "Serial Port"},
      {"com9", "MILLRUN_COM9", "\\\\.\\com9", "Serial Port"},
      {"COM 9", "MILLRUN_COM9", "\\\\.\\COM 9", "Serial Port"},
      {"LPT4", "MILLRUN_LPT4", "\\\\.\\LPT4", "Parallel Port"},
  };
  for (const missing_case& c : cases) {
    setenv(c.variable, (dir_.path() + "/no-such-device").c_str(), 1);
    message_recorder messages;
    port_handle handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(open_comm_port(c.name, true, 9600, &handle)) << c.name;
    unsetenv(c.variable);
    // A second line names the device tried, the system's reason and the
    // variable that chooses another.
    const std::string note = testing::internal::GetCapturedStderr();
    for (const std::string& part : {dir_.path() + "/no-such-device", std::string(c.variable),
                                    std::string("No such file or directory")})
      EXPECT_NE(note.find(part), std::string::npos) << note;
    EXPECT_EQ(handle, nullptr);
    EXPECT_STREQ(port_memory().device_path, c.path);
    EXPECT_TRUE(port_memory().lpc2000);
    ASSERT_EQ(messages.all().size(), 1u);
    EXPECT_EQ(messages.all()[0].caption, "Failed to Open COMM Port");
    EXPECT_EQ(messages.all()[0].text, std::string("An error occurred while trying to open ") +
                                          c.kind + " \"" + c.name + "\"");
  }
}

TEST_F(PortOpening, PathsUnderDevAreTerminalsOrNeverCreated) {
  // A terminal named under /dev is a serial port (opened with the link
  // settings, remembered, opened again by a recovery); a name there that
  // names nothing is refused and never created; anything else, a link to
  // the terminal included, is a plain file.
  fake_terminal port;
  ASSERT_EQ(port.device().rfind("/dev/", 0), 0u) << port.device();
  ASSERT_EQ(symlink(port.device().c_str(), dir_.file("tty-link").c_str()), 0);
  const std::string missing = "/dev/millrun-no-such-port-" + std::to_string(getpid());
  struct path_case {
    std::string name;
    bool opens;
    const char* remembered;
    const char* kind;
  };
  const path_case cases[] = {
      {port.device(), true, port.device().c_str(), nullptr},
      {missing, false, "", "File"},
      {"/dev/null", true, "", nullptr},
      {"tty-link", true, "", nullptr},
  };
  for (const path_case& c : cases) {
    reset_port_memory();
    message_recorder messages;
    port_handle handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(open_comm_port(c.name.c_str(), false, 9600, &handle), c.opens) << c.name;
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(port_memory().device_path, c.remembered) << c.name;
    if (c.kind) {
      ASSERT_EQ(messages.all().size(), 1u) << c.name;
      EXPECT_EQ(messages.all()[0].text, std::string("An error occurred while trying to open ") +
                                            c.kind + " \"" + c.name + "\"");
    }
    close_port(handle);
  }
  EXPECT_NE(access(missing.c_str(), F_OK), 0) << "a file was created under /dev";

  // The terminal got the line settings, and a recovery opens it again.
  reset_port_memory();
  port_handle handle = nullptr;
  ASSERT_TRUE(open_comm_port(port.device().c_str(), false, 9600, &handle));
  close_port(handle);
  ASSERT_TRUE(reopen_remembered_port(&handle));
  int probe = open(port.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(probe, &t), 0);
  close(probe);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  close_port(handle);
}

TEST_F(PortOpening, FileIsCreatedOrKeptAndNotRemembered) {
  dir_.write("link.txt", "kept");
  for (const char* name : {"COM0", "link.txt"}) {
    port_handle handle = nullptr;
    ASSERT_TRUE(open_comm_port(name, false, 9600, &handle)) << name;
    EXPECT_TRUE(dir_.exists(name));
    EXPECT_STREQ(port_memory().device_path, "");
    // A file is exclusive too.
    message_recorder messages;
    port_handle second = nullptr;
    EXPECT_FALSE(open_comm_port(name, false, 9600, &second));
    ASSERT_EQ(messages.all().size(), 1u);
    EXPECT_EQ(messages.all()[0].text,
              std::string("An error occurred while trying to open File \"") + name + "\"");
    close_port(handle);
  }
  EXPECT_EQ(dir_.read("link.txt"), "kept");
}

TEST_F(PortOpening, OverlongPortNameIsRefusedWithoutTouchingTheMemory) {
  std::string name = "COM3" + std::string(300, 'x');
  message_recorder messages;
  port_handle handle = nullptr;
  EXPECT_FALSE(open_comm_port(name.c_str(), false, 9600, &handle));
  EXPECT_STREQ(port_memory().device_path, "");
  EXPECT_EQ(messages.captions(), std::vector<std::string>{"Failed to Open COMM Port"});
}

// The modem lines and the reset pulse cannot be seen on a pseudo-terminal.
fake_device* last_fake = nullptr;
port_handle open_fake(const char*, port_kind, open_disposition) {
  last_fake = new fake_device(healthy_controller);
  return last_fake;
}

TEST_F(PortOpening, ControlLinesFollowTheControllerVariant) {
  set_device_opener(&open_fake);
  for (bool lpc2000 : {false, true}) {
    port_handle handle = nullptr;
    ASSERT_TRUE(open_comm_port("COM3", lpc2000, 9600, &handle));
    ASSERT_EQ(last_fake->settings.size(), 1u);
    EXPECT_EQ(last_fake->settings[0].baud, 9600);
    EXPECT_EQ(last_fake->settings[0].dtr_on, !lpc2000);
    EXPECT_EQ(last_fake->settings[0].rts_on, !lpc2000);
    close_port(handle);
    // A re-opened port gets exactly the settings of its first opening.
    ASSERT_TRUE(reopen_remembered_port(&handle));
    ASSERT_EQ(last_fake->settings.size(), 1u);
    EXPECT_EQ(last_fake->settings[0].dtr_on, !lpc2000);
    close_port(handle);
  }
  // Parallel ports get no line settings.
  port_handle handle = nullptr;
  ASSERT_TRUE(open_comm_port("LPT1", false, 9600, &handle));
  EXPECT_TRUE(last_fake->settings.empty());
  close_port(handle);
  set_device_opener(nullptr);
}

TEST_F(PortOpening, RefusedSettingsCloseThePort) {
  set_device_opener([](const char*, port_kind, open_disposition) -> port_handle {
    auto* dev = new fake_device();
    dev->refuse_settings();
    return dev;
  });
  message_recorder messages;
  port_handle handle = nullptr;
  EXPECT_FALSE(open_comm_port("COM3", false, 9600, &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(messages.all().at(0).text,
            "An error occurred while trying to open Serial Port \"COM3\"");
  set_device_opener(nullptr);
}

TEST_F(PortOpening, LpcResetPulseTimeline) {
  port_memory().baud = 9600;
  fake_device dev;
  dev.push_input("boot noise\r\n");
  auto start = std::chrono::steady_clock::now();
  pulse_lpc2000_reset(&dev);
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(dev.settings.size(), 2u);
  EXPECT_TRUE(dev.settings[0].dtr_on);
  EXPECT_FALSE(dev.settings[0].rts_on);
  EXPECT_FALSE(dev.settings[1].dtr_on);
  EXPECT_FALSE(dev.settings[1].rts_on);
  EXPECT_EQ(dev.settings[1].baud, 9600);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1000));  // two waits of 500 ms
  EXPECT_EQ(dev.pending(), 0u);                         // then the drain
}

}  // namespace
