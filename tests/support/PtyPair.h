// Pseudo-terminal pairs standing in for serial ports: the port end is linked as COMn in a folder
// that QUILLSTAGE_SERIAL_DIR names, and the test plays the other end of the line.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

class TPtyPair {
 public:
  TPtyPair();  // raises std::runtime_error when no pair can be made
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  // The port end's device path (/dev/pts/N) and a descriptor of it kept open by the pair.
  const std::string& PortPath() const { return portPath_; }
  int PortFd() const { return portFd_; }
  // The other end of the line.
  int PeerFd() const { return peerFd_; }

  // Writes everything (waiting for room); false on failure.
  bool Send(std::string_view bytes);
  // What arrives within timeout, stopping once want bytes are there.
  std::string Receive(std::size_t want, std::chrono::milliseconds timeout);
  // Reads and discards whatever is waiting now.
  std::size_t Discard();
  // The other end goes away: the port end is hung up.
  void ClosePeer();

 private:
  int peerFd_ = -1;
  int portFd_ = -1;
  std::string portPath_;
};

// A temporary folder of COMn links that QUILLSTAGE_SERIAL_DIR names while the object lives.
class TSerialFolder {
 public:
  TSerialFolder();
  ~TSerialFolder();
  TSerialFolder(const TSerialFolder&) = delete;
  TSerialFolder& operator=(const TSerialFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // COMn -> target (which need not exist).
  void Link(int number, const std::string& target);
  // "\\.\COMn"
  static std::string PortName(int number);

 private:
  std::filesystem::path path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace testsupport
