// A scripted FTP server on 127.0.0.1 for the replies real servers do not send: it plays a list of
// steps on its own thread (send a reply, expect a command, open, feed, close or reset a data
// connection, pause, drop the control connection) and records every command it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scripted {

struct Step {
  enum Kind {
    kSend,           // text on the control connection
    kExpect,         // the next command line must begin with text
    kPassive,        // listen for a data connection and send the 227 reply for it
    kAcceptData,     // accept the passive data connection
    kConnectActive,  // connect to the address of the last PORT command
    kDataSend,       // text on the data connection
    kDataClose,      // orderly close of the data connection
    kDataReset,      // close the data connection with a reset
    kClose,          // close the control connection
    kPause,          // wait ms milliseconds
    kConnectStranger,  // connect to the last PORT's port from 127.0.0.2 and send text there
    kExpectRefused,    // a further connection to the last PORT's port must be refused
    kCloseListener,    // close the passive listener (a connection waiting in it is reset)
  };
  Kind kind;
  std::string text;
  int ms = 0;
};

inline Step Send(std::string text) { return {Step::kSend, std::move(text)}; }
inline Step Expect(std::string text) { return {Step::kExpect, std::move(text)}; }
inline Step Passive() { return {Step::kPassive, {}}; }
inline Step AcceptData() { return {Step::kAcceptData, {}}; }
inline Step ConnectActive() { return {Step::kConnectActive, {}}; }
inline Step DataSend(std::string text) { return {Step::kDataSend, std::move(text)}; }
inline Step DataClose() { return {Step::kDataClose, {}}; }
inline Step DataReset() { return {Step::kDataReset, {}}; }
inline Step Close() { return {Step::kClose, {}}; }
inline Step Pause(int ms) { return {Step::kPause, {}, ms}; }
inline Step ConnectStranger(std::string text) { return {Step::kConnectStranger, std::move(text)}; }
inline Step ExpectRefused() { return {Step::kExpectRefused, {}}; }
inline Step CloseListener() { return {Step::kCloseListener, {}}; }

class Server {
 public:
  explicit Server(std::vector<Step> script);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t Port() const { return port_; }
  bool Finished() const { return finished_.load(); }
  // What went wrong while playing the script (empty when it played through).
  std::string Failure() const;
  // Command lines received after the script had ended.
  std::vector<std::string> Extra() const;

 private:
  void Run();
  bool Play(const Step& step);
  bool ReadLine(std::string& line, int waitMs);
  void Fail(const std::string& why);
  int LastPortNumber();

  std::vector<Step> script_;
  int listener_ = -1;
  int control_ = -1;
  int dataListener_ = -1;
  int data_ = -1;
  int stranger_ = -1;
  std::uint16_t port_ = 0;
  std::string pending_;  // control bytes received and not yet taken as lines
  std::string lastPort_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string failure_;
  std::vector<std::string> extra_;
  std::thread thread_;
};

}  // namespace scripted
