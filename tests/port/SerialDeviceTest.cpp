// The platform's serial device over pseudo-terminals: port names, opening and its system errors,
// the line-settings record against the terminal's real settings, refused settings, the event wait
// and its cancelling, the other end hanging up, purges and writes that wait for room.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/Serial.h"
#include "platform/SerialTermios.h"
#include "tests/support/PtyPair.h"

namespace {

using namespace std::chrono_literals;
using platform::TCommState;
using platform::TSerialDevice;
using testsupport::TPtyPair;
using testsupport::TSerialFolder;

std::unique_ptr<TSerialDevice> OpenPort(int number, int& error) {
  return TSerialDevice::Open(TSerialFolder::PortName(number), error);
}

TEST(SerialDevicePath, NamesMapToTheFolderOrToTtyS) {
  struct Case {
    const char* name;
    const char* inFolder;  // relative to the folder; nullptr: no port name
    const char* withoutFolder;
  };
  const Case cases[] = {
      {"\\\\.\\COM1", "COM1", "/dev/ttyS0"},   {"COM12", "COM12", "/dev/ttyS11"},
      {"\\\\.\\com3", "COM3", "/dev/ttyS2"},   {"COM0", nullptr, nullptr},
      {"LPT1", nullptr, nullptr},              {"COM", nullptr, nullptr},
      {"COM1x", nullptr, nullptr},             {"", nullptr, nullptr},
  };
  {
    TSerialFolder folder;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(platform::SerialDevicePath(c.name), c.inFolder ? (folder.Path() / c.inFolder).string() : "");
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::SerialDevicePath(c.name), c.withoutFolder ? c.withoutFolder : "");
  }
}

TEST(SerialDeviceOpen, FailuresGiveTheSystemErrors) {
  TSerialFolder folder;
  TPtyPair held;
  TPtyPair lockedElsewhere;
  folder.Link(2, held.PortPath());
  folder.Link(3, (folder.Path() / "gone").string());  // a link to nothing
  {
    std::ofstream(folder.Path() / "plain") << "not a terminal";
  }
  folder.Link(4, (folder.Path() / "plain").string());
  folder.Link(5, lockedElsewhere.PortPath());
  int error = 0;
  auto holder = OpenPort(2, error);
  ASSERT_TRUE(holder) << error;
  // Another program holding the port the same way.
  const int other = open(lockedElsewhere.PortPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

  struct Case {
    int number;
    int error;
  };
  const Case cases[] = {{1, platform::kSysErrFileNotFound},
                        {2, platform::kSysErrAccessDenied},
                        {3, platform::kSysErrFileNotFound},
                        {4, platform::kSysErrFileNotFound},
                        {5, platform::kSysErrAccessDenied}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    error = 0;
    EXPECT_EQ(OpenPort(c.number, error), nullptr);
    EXPECT_EQ(error, c.error);
  }
  setenv("QUILLSTAGE_SERIAL_DIR", (folder.Path() / "no-such-folder").c_str(), 1);
  EXPECT_EQ(OpenPort(1, error), nullptr);
  EXPECT_EQ(error, platform::kSysErrPathNotFound);
  setenv("QUILLSTAGE_SERIAL_DIR", folder.Path().c_str(), 1);
  close(other);

  // Closing lets the next user in.
  ASSERT_TRUE(holder->Close(error));
  EXPECT_TRUE(OpenPort(2, error)) << error;
  EXPECT_TRUE(OpenPort(5, error)) << error;
}

class SerialDevice : public testing::Test {
 protected:
  void SetUp() override {
    folder_.Link(1, pty.PortPath());
    int error = 0;
    device = OpenPort(1, error);
    ASSERT_TRUE(device) << error;
    ASSERT_TRUE(device->Setup(4096, 4096, error));
    ASSERT_TRUE(device->SetEventMask(platform::kCommEvRxChar | platform::kCommEvCts | platform::kCommEvDsr |
                                     platform::kCommEvRlsd));
  }
  termios PortTermios() {
    termios t{};
    tcgetattr(pty.PortFd(), &t);
    return t;
  }
  // Runs a wait on another thread; the future holds (result, events).
  std::future<std::pair<bool, std::uint32_t>> StartWait() {
    return std::async(std::launch::async, [this] {
      std::uint32_t events = 0;
      const bool ok = device->WaitEvent(events);
      return std::make_pair(ok, events);
    });
  }

  TSerialFolder folder_;
  TPtyPair pty;
  std::unique_ptr<TSerialDevice> device;
};

TEST_F(SerialDevice, SetupMakesTheLineRaw) {
  termios cooked = PortTermios();
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_oflag |= OPOST;
  cooked.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  ASSERT_EQ(tcsetattr(pty.PortFd(), TCSANOW, &cooked), 0);
  int error = -1;
  ASSERT_TRUE(device->Setup(4096, 4096, error));
  EXPECT_EQ(error, 0);
  const termios t = PortTermios();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  ASSERT_TRUE(pty.Send("a\r\nb"));
  std::this_thread::sleep_for(50ms);
  std::uint8_t buf[16];
  EXPECT_EQ(device->Read(buf, sizeof buf), 4) << "no line editing holds the bytes back";
}

struct TFormatCase {
  std::uint32_t baud;
  std::uint8_t size, parity, stop;
  std::uint32_t flags;
  speed_t speed;
  tcflag_t cflagSet, cflagClear, iflagSet;
  bool ptyTakesIt;  // a pseudo-terminal carries 8-bit characters without parity only
};

const TFormatCase kFormats[] = {
    {9600, 8, 0, 0, 0x1010, B9600, CS8, PARENB | CSTOPB | CRTSCTS, 0, true},
    {115200, 7, 2, 2, 0x1010, B115200, CS7 | PARENB | CSTOPB, PARODD | CMSPAR, INPCK, false},
    {300, 5, 1, 1, 0x1010, B300, CS5 | PARENB | PARODD | CSTOPB, CMSPAR, INPCK, false},
    {921600, 6, 3, 0, 0x1010, B921600, CS6 | PARENB | PARODD | CMSPAR, CSTOPB, INPCK, false},
    {57600, 8, 4, 0, 0x1010, B57600, CS8 | PARENB | CMSPAR, PARODD, INPCK, false},
    {4800, 8, 0, 2, 0x1010, B4800, CS8 | CSTOPB, PARENB, 0, true},
    {19200, 8, 0, 0, 0x2014, B19200, CS8 | CRTSCTS, PARENB, 0, true},    // CTS flow, RTS handshake
    {38400, 8, 0, 0, 0x1310, B38400, CS8, CRTSCTS, IXON | IXOFF, true},  // Xon/Xoff both ways
    {230400, 8, 0, 0, 0x0020, B230400, CS8, CRTSCTS, 0, true},           // DTR handshake, RTS off
};

TCommState StateOf(const TFormatCase& c) {
  TCommState s;
  s.baudRate = c.baud;
  s.byteSize = c.size;
  s.parity = c.parity;
  s.stopBits = c.stop;
  s.flags = c.flags;
  s.xonLim = 100;
  s.xoffLim = 200;
  s.xonChar = 0x11;
  s.xoffChar = 0x13;
  return s;
}

void ExpectSameFormat(const TCommState& back, const TFormatCase& c) {
  EXPECT_EQ(back.baudRate, c.baud);
  EXPECT_EQ(back.byteSize, c.size);
  EXPECT_EQ(back.parity, c.parity);
  EXPECT_EQ(back.stopBits, c.stop);
  EXPECT_EQ(back.xonChar, 0x11);
  EXPECT_EQ(back.xoffChar, 0x13);
}

TEST(SerialTermios, RecordAndTermiosTranslateBothWays) {
  for (const TFormatCase& c : kFormats) {
    SCOPED_TRACE(c.baud);
    const TCommState s = StateOf(c);
    ASSERT_TRUE(platform::ValidCommState(s));
    termios t{};
    t.c_cflag = CS8 | PARENB | PARODD | CSTOPB | CRTSCTS;  // everything the record must clear
    t.c_iflag = IXON | IXOFF | IXANY;
    platform::CommStateToTermios(s, t);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & c.cflagSet, c.cflagSet);
    EXPECT_EQ(t.c_cflag & c.cflagClear, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK), c.iflagSet);
    TCommState back;
    back.flags = c.flags & (platform::kCommDtrControlMask | platform::kCommRtsControlMask);
    platform::TermiosToCommState(t, back);
    ExpectSameFormat(back, c);
    EXPECT_EQ(back.flags, c.flags);
  }
}

TEST_F(SerialDevice, SettingsThePseudoTerminalTakesReachItAndReadBack) {
  for (const TFormatCase& c : kFormats) {
    if (!c.ptyTakesIt) continue;
    SCOPED_TRACE(c.baud);
    ASSERT_EQ(device->SetState(StateOf(c)), 0);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(PortTermios())), c.speed);
    TCommState back;
    ASSERT_TRUE(device->GetState(back));
    ExpectSameFormat(back, c);
    EXPECT_EQ(back.flags, c.flags);
    EXPECT_EQ(back.xonLim, 100);
    EXPECT_EQ(back.xoffLim, 200);
  }
}

TEST_F(SerialDevice, RefusedSettingsGiveInvalidParameterAndChangeNothing) {
  TCommState good;
  good.baudRate = 9600;
  ASSERT_EQ(device->SetState(good), 0);
  struct Case {
    const char* what;
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    std::uint32_t flags;
    char xon, xoff;
  };
  const Case cases[] = {
      {"rate the line cannot make", 14400, 8, 0, 0, 0, 17, 19},
      {"rate zero", 0, 8, 0, 0, 0, 17, 19},
      {"4 data bits", 9600, 4, 0, 0, 0, 17, 19},
      {"9 data bits", 9600, 9, 0, 0, 0, 17, 19},
      {"parity 5", 9600, 8, 5, 0, 0, 17, 19},
      {"stop code 3", 9600, 8, 0, 3, 0, 17, 19},
      {"1.5 stop bits with 8 data bits", 9600, 8, 0, 1, 0, 17, 19},
      {"2 stop bits with 5 data bits", 9600, 5, 0, 2, 0, 17, 19},
      {"Xon equals Xoff with flow on", 9600, 8, 0, 0, 0x100, 17, 17},
      {"7 data bits on a pseudo-terminal", 19200, 7, 0, 0, 0, 17, 19},
      {"even parity on a pseudo-terminal", 19200, 8, 2, 0, 0, 17, 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TCommState s;
    s.baudRate = c.baud;
    s.byteSize = c.size;
    s.parity = c.parity;
    s.stopBits = c.stop;
    s.flags = c.flags;
    s.xonChar = c.xon;
    s.xoffChar = c.xoff;
    EXPECT_EQ(device->SetState(s), platform::kSysErrInvalidParameter);
    TCommState now;
    ASSERT_TRUE(device->GetState(now));
    EXPECT_EQ(now.baudRate, 9600u);
    EXPECT_EQ(now.byteSize, 8);
    EXPECT_EQ(now.parity, 0);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(PortTermios())), B9600) << "the terminal went back";
  }
}

TEST_F(SerialDevice, ArrivalsAreReportedOnceAndAWaitCanBeCancelled) {
  auto wait = StartWait();
  ASSERT_TRUE(pty.Send("x"));
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  auto [ok, events] = wait.get();
  EXPECT_TRUE(ok);
  EXPECT_EQ(events, platform::kCommEvRxChar);
  // The byte stays unread: the next waits must not keep reporting it (that would be a spin). A
  // loaded machine may still deliver one late edge of the same arrival from the pty layer.
  auto second = StartWait();
  if (second.wait_for(200ms) == std::future_status::ready) {
    second.get();
    second = StartWait();
    EXPECT_EQ(second.wait_for(200ms), std::future_status::timeout) << "reported again and again: a spin";
  }
  ASSERT_TRUE(pty.Send("y"));
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(second.get().second, platform::kCommEvRxChar);
  // Mask 0 ends a wait with no event.
  auto third = StartWait();
  EXPECT_EQ(third.wait_for(100ms), std::future_status::timeout);
  device->SetEventMask(0);
  ASSERT_EQ(third.wait_for(5s), std::future_status::ready);
  auto [thirdOk, thirdEvents] = third.get();
  EXPECT_TRUE(thirdOk);
  EXPECT_EQ(thirdEvents, 0u);
}

TEST_F(SerialDevice, CloseEndsAWaitAndAWriteInProgress) {
  auto wait = StartWait();
  // Fill the line until a write has to wait for room.
  platform::TSyncEvent never(platform::TSyncEvent::rmManual);
  const std::string block(4096, 'w');
  auto write = std::async(std::launch::async, [&] {
    int n = 0;
    while ((n = device->Write(reinterpret_cast<const std::uint8_t*>(block.data()), 4096, never)) > 0) {
    }
    return n;
  });
  EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout) << "the peer reads nothing: the write waits";
  int error = -1;
  EXPECT_TRUE(device->Close(error));
  EXPECT_EQ(error, 0);
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(wait.get().first);
  ASSERT_EQ(write.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(write.get(), -1);
  EXPECT_FALSE(device->Close(error)) << "a second close is refused";
  EXPECT_EQ(error, platform::kSysErrInvalidHandle);
}

TEST_F(SerialDevice, AWaitingWriteGivesWayToItsCancelEvent) {
  platform::TSyncEvent cancel(platform::TSyncEvent::rmAutomatic);
  const std::string block(4096, 'c');
  auto write = std::async(std::launch::async, [&] {
    int n = 0;
    while ((n = device->Write(reinterpret_cast<const std::uint8_t*>(block.data()), 4096, cancel)) > 0) {
    }
    return n;
  });
  EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout);
  cancel.Set();
  ASSERT_EQ(write.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(write.get(), TSerialDevice::kWriteCancelled);
  EXPECT_TRUE(cancel.TryTake()) << "the cancel event stays set for its owner";
  EXPECT_EQ(device->Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear), 0);
}

TEST_F(SerialDevice, InputCountAndReceivePurge) {
  ASSERT_TRUE(pty.Send("12345"));
  std::uint32_t errors = 1, in = 0;
  for (int i = 0; i < 100 && in < 5; ++i) {
    ASSERT_TRUE(device->ClearError(errors, in));
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(in, 5u);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(device->Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear), 0);
  ASSERT_TRUE(device->ClearError(errors, in));
  EXPECT_EQ(in, 0u);
  std::uint8_t buf[8];
  EXPECT_EQ(device->Read(buf, sizeof buf), 0) << "nothing waiting is no data, not a failure";
}

TEST_F(SerialDevice, APseudoTerminalAnswersAsADeviceWithoutModemLines) {
  EXPECT_FALSE(device->HasModemLines());
  for (int func : {platform::kCommSetDtr, platform::kCommClrDtr, platform::kCommSetRts, platform::kCommClrRts}) {
    SCOPED_TRACE(func);
    EXPECT_FALSE(device->Escape(func)) << "no lines to drive";
  }
  EXPECT_TRUE(device->Escape(platform::kCommResetDev));
  EXPECT_FALSE(device->Escape(42));
  EXPECT_EQ(device->BaseAddress(), 0);
  std::uint8_t status = 0;
  ASSERT_TRUE(device->ModemStatus(status));
  EXPECT_EQ(status, platform::kCommCtsOn | platform::kCommDsrOn | platform::kCommRlsdOn);
}

TEST_F(SerialDevice, TheOtherEndHangingUpIsReportedOnceAndDropsTheLines) {
  auto wait = StartWait();
  pty.ClosePeer();
  ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
  auto [ok, events] = wait.get();
  EXPECT_TRUE(ok);
  EXPECT_NE(events & platform::kCommEvRlsd, 0u);
  EXPECT_TRUE(device->HungUp());
  std::uint8_t status = 0xFF;
  ASSERT_TRUE(device->ModemStatus(status));
  EXPECT_EQ(status, 0);
  std::uint8_t buf[8];
  EXPECT_LE(device->Read(buf, sizeof buf), 0);
  // A hung-up terminal stays readable for ever: the next wait must block, not spin.
  auto next = StartWait();
  EXPECT_EQ(next.wait_for(300ms), std::future_status::timeout);
  device->SetEventMask(0);
  ASSERT_EQ(next.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(next.get().second, 0u);
  platform::TSyncEvent never(platform::TSyncEvent::rmManual);
  EXPECT_EQ(device->Write(buf, 1, never), -1) << "nobody to send to";
}

TEST(SerialDeviceAdopt, AnAdoptedDescriptorIsClosedWithTheDevice) {
  TPtyPair pty;
  const int fd = dup(pty.PortFd());
  ASSERT_GE(fd, 0);
  int error = 0;
  auto device = TSerialDevice::Adopt(fd, error);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->Handle(), fd);
  ASSERT_TRUE(pty.Send("hi"));
  std::this_thread::sleep_for(50ms);
  std::uint8_t buf[8];
  EXPECT_EQ(device->Read(buf, sizeof buf), 2);
  EXPECT_TRUE(device->Close(error));
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the descriptor was closed";
}

TEST(SerialDeviceAdopt, ADescriptorTheSystemCannotCloseIsReported) {
  int error = 0;
  auto device = TSerialDevice::Adopt(1 << 20, error);  // no such descriptor
  ASSERT_TRUE(device);
  EXPECT_FALSE(device->Close(error));
  EXPECT_EQ(error, platform::kSysErrInvalidHandle);
}

}  // namespace
