// The Winsock dispatcher: the dispatcher's device operations over one TCP connection, serviced on
// the GUI thread by a 50 ms timer and a hidden "qsDispatch" window instead of service threads.
//
// Three pieces:
//  - TQsWinsockDispatcher: the device operations, the socket service and DispatchEvents;
//  - TQsDeviceSocket: the process-wide socket object (DeviceSocket()) that receives the socket
//    notices of every connection and routes them to the right dispatcher and its owner port;
//  - TWsConnection: one per open dispatcher, with the sockets, a receive ring, a send ring and the
//    telnet state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/QsDispatch.h"
#include "port/QsSocket.h"
#include "port/QsTelnet.h"
#include "port/QsWsRing.h"

class TQsWinsockDispatcher;
class TQsDeviceSocket;

// What a dispatcher's owner offers for socket notices: the window that receives SocketMessage with
// the codes below. The Winsock port implements it; an owner without it hears nothing.
class TQsSocketNotifyTarget {
 public:
  virtual ~TQsSocketNotifyTarget() = default;
  virtual platform::HWND SocketNotifyWindow() const = 0;
};

// First parameter of SocketMessage to the owner port; any other value is a Winsock error code.
constexpr platform::WPARAM kWsNotifyAccept = 8;       // second parameter: the caller's IPv4 address
constexpr platform::WPARAM kWsNotifyConnect = 16;
constexpr platform::WPARAM kWsNotifyClosed = 32;      // the port's own connection closed
constexpr platform::WPARAM kWsNotifyClientClosed = 48;  // server mode: the accepted client left

// The carrier-detect bit of the modem status that mirrors LinkUp.
constexpr std::uint8_t kWsCarrierBit = 0x80;
constexpr unsigned kWsServiceTimerMs = 50;

// One connection: owned by DeviceSocket(), made by DeviceOpen and destroyed by DeviceClose.
class TWsConnection : public platform::TComponent, private telnet::TTelnetSink {
 public:
  // Makes the main socket (raises EQsSocketException when it cannot) and both rings.
  TWsConnection(TQsDeviceSocket& owner, int inSize, int outSize);
  ~TWsConnection() override;
  std::string ClassName() const override { return "TWsConnection"; }

  TSocket MainSocket() const { return mainSocket_; }
  TSocket DataSocket() const { return dataSocket_; }
  void SetDataSocket(TSocket socket) { dataSocket_ = socket; }
  TQsWinsockDispatcher* OwnerDispatcher() const { return ownerDispatcher_; }
  void SetOwnerDispatcher(TQsWinsockDispatcher* dispatcher) { ownerDispatcher_ = dispatcher; }
  bool LinkUp() const { return linkUp_; }
  // Mirrors the value in the owner dispatcher's carrier bit.
  void SetLinkUp(bool up);
  bool ClientMode() const { return clientMode_; }
  bool UseTelnet() const { return useTelnet_; }
  void Configure(bool clientMode, bool useTelnet) {
    clientMode_ = clientMode;
    useTelnet_ = useTelnet;
  }
  bool BinaryMode() const { return telnet_.BinaryMode(); }
  std::uint32_t SendPending() const { return sendPending_; }

  // The receive path: fills the receive ring from the data socket, then delivers up to size bytes.
  int Read(std::uint8_t* buf, int size);
  // The send path: stores what fits (escaped when telnet is on) and tries to send. The number of
  // source bytes accepted.
  int Write(const std::uint8_t* buf, int size);
  // Bytes held for reading (telnet sequences included), after one receive when linked.
  std::uint32_t ReceiveCount();
  // Bytes not yet sent, after a send attempt when linked.
  std::uint32_t SendCount();
  void FlushSend() { sendRing_.Clear(); }
  void FlushReceive() { receiveRing_.Clear(); }
  const TWsRing& ReceiveRing() const { return receiveRing_; }
  const TWsRing& SendRing() const { return sendRing_; }

  // Closes its sockets and leaves the list; frees itself at once, or when the data path that is
  // running (whose socket error reached a port that closed) has returned.
  void Dispose();

  // The peer closed the connection: the unlink and its notice wait until what it sent is read.
  bool PeerClosed() const { return peerClosed_; }
  void SetPeerClosed(TSocket socket) {
    peerClosed_ = true;
    closedSocket_ = socket;
  }
  TSocket ClosedSocket() const { return closedSocket_; }
  // Everything the peer sent has left the socket and the receive ring.
  bool Drained() const { return atEnd_ && receiveRing_.Empty(); }
  // Nothing more will come from the socket (bytes may still wait in the receive ring).
  bool AtEnd() const { return atEnd_; }
  // Ready for the next peer (server mode) once the last one's close is told.
  void ClearPeerClosed() {
    peerClosed_ = atEnd_ = false;
    closedSocket_ = platform::ws::INVALID_SOCKET;
  }
  // A data path of this connection is running.
  bool Busy() const { return busy_ > 0; }
  // Tells this connection apart from a later one that reuses its socket number.
  std::uint64_t Serial() const { return serial_; }

 private:
  // Keeps the connection alive across a call that may reach the application.
  class TBusy {
   public:
    explicit TBusy(TWsConnection& c) : c_(c) { ++c_.busy_; }
    ~TBusy() {
      if (--c_.busy_ == 0 && c_.disposed_) delete &c_;
    }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

   private:
    TWsConnection& c_;
  };

  void ReceiveIntoRing(bool allowSecondPart);
  telnet::THeldBytes Held() const;
  // The ring holds enough bytes to fill a read of size bytes as they are.
  bool HoldsWholeRequest(int size) const;
  int DeliverPlain(std::uint8_t* buf, int size);
  int DeliverTelnet(std::uint8_t* buf, int size);
  void SendAttempt();
  // One send of a contiguous part; true when all of it went out.
  bool SendPart(std::size_t count);
  void SendAnswer(const std::uint8_t* bytes, std::size_t count) override;
  void LogTelnet(telnet::TTelnetLogSubtype subtype, std::uint32_t value, const std::string& data) override;

  TSocket mainSocket_ = platform::ws::INVALID_SOCKET;
  TSocket dataSocket_ = platform::ws::INVALID_SOCKET;
  TQsDeviceSocket& socket_;
  TQsWinsockDispatcher* ownerDispatcher_ = nullptr;
  bool linkUp_ = false;
  bool clientMode_ = false;
  bool useTelnet_ = false;
  std::uint32_t sendPending_ = 0;
  int busy_ = 0;
  bool disposed_ = false;
  std::uint64_t serial_;
  bool peerClosed_ = false;
  bool atEnd_ = false;  // a receive found the end of the peer's stream
  TSocket closedSocket_ = platform::ws::INVALID_SOCKET;
  TWsRing receiveRing_;
  TWsRing sendRing_;
  telnet::TTelnetState telnet_;
};

// The shared socket object of every Winsock dispatcher.
class TQsDeviceSocket : public TQsSocket {
 public:
  explicit TQsDeviceSocket(platform::TComponent* owner);
  ~TQsDeviceSocket() override;
  std::string ClassName() const override { return "TQsDeviceSocket"; }

  const std::string& TerminalType() const { return terminalType_; }
  TQsBaseDispatcher::Lock& ConnectionLock() { return connectionLock_; }

  // The connection whose data or main socket is socket, or null.
  TWsConnection* FindConnection(TSocket socket);
  // True while connection is in the list (a notification may have closed it).
  bool HoldsConnection(const TWsConnection* connection);
  int ConnectionCount();
  void ForgetLastFound();

  // Sends SocketMessage (code, param) to the owner port of the dispatcher whose DeviceId is
  // socket, with Dispatching set meanwhile; the window's answer, or 0.
  platform::LRESULT NotifyPort(TSocket socket, platform::WPARAM code, platform::LPARAM param);
  // Sends SocketMessage (socket, 0) to that dispatcher's own window.
  void NotifyDispatcher(TSocket socket);

  // For connections only.
  void AddConnection(TWsConnection* connection);
  void RemoveConnection(TWsConnection* connection);
  // Reports a socket failure as the library's own failures are reported (HandleError).
  void ReportError(TSocket socket, std::int32_t code) { HandleError(socket, code); }
  // The peer's close, once what it sent has been read: unlinks and tells the port.
  void FinishDisconnect(TWsConnection* connection);

 protected:
  void HandleAccept(TSocket socket) override;
  void HandleConnect(TSocket socket) override;
  void HandleDisconnect(TSocket socket) override;
  void HandleError(TSocket socket, std::int32_t code) override;
  void HandleRead(TSocket socket) override;
  void HandleWrite(TSocket socket) override;
  bool HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                     platform::LRESULT& result) override;

 private:
  void AcceptCaller(TSocket listener, TWsConnection* connection);
  // Tells the port of an error on one of the connection's sockets; a lost link first unlinks.
  void ReportToPort(TWsConnection* connection, TSocket socket, std::int32_t code);
  void Unlink(TWsConnection* connection);
  TWsConnection* FindConnectionBySerial(std::uint64_t serial);

  std::string terminalType_ = "vt100";
  TQsBaseDispatcher::Lock connectionLock_;
  std::vector<TWsConnection*> connections_;
  TSocket lastFoundSocket_ = platform::ws::INVALID_SOCKET;
  TWsConnection* lastFound_ = nullptr;
};

// The process-wide socket object, made on first use (on the GUI thread) and kept to the end.
TQsDeviceSocket& DeviceSocket();

class TQsWinsockDispatcher : public TQsBaseDispatcher {
 public:
  explicit TQsWinsockDispatcher(platform::TComponent* owner);
  ~TQsWinsockDispatcher() override;

  // address and port in network byte order.
  void SetConnectionParams(std::uint32_t address, std::uint16_t port, bool clientMode, bool useTelnet);
  int DispatchEvents(platform::UINT message, bool pollOnly, platform::LPARAM param);

  int DeviceEscape(int func) override;
  int DeviceFlush(int queue) override;
  int DeviceStatus(TDeviceStatus& status) override;
  int DeviceReadFailed(int code) override;
  int DeviceGetState(TQsLineSettings& settings) override;
  int DeviceRead(std::uint8_t* buf, int size) override;
  int DeviceSetState(const TQsLineSettings& settings) override;
  int DeviceWrite(const std::uint8_t* buf, int size) override;
  bool DeviceWaitEvent(std::uint32_t& eventMask) override;
  bool DeviceSetup(int inSize, int outSize) override;
  bool DeviceModemStatus(std::uint8_t& status) override;
  void StartDispatching() override;
  void StopDispatching() override;
  int DeviceOpen(const std::string& name, int inSize, int outSize) override;
  int DeviceClose() override;
  int ServiceOnce() override;

  bool InDispatch() const { return inDispatch_; }
  const TSockAddrIn& RemoteAddress() const { return remoteAddress_; }
  TSockAddrIn& RemoteAddressRecord() { return remoteAddress_; }
  const TSockAddrIn& LocalAddress() const { return localAddress_; }
  bool ClientMode() const { return clientMode_; }
  bool UseTelnet() const { return useTelnet_; }
  // This dispatcher's connection, or null.
  TWsConnection* Connection();
  // Called by a connection that goes while still linked to this dispatcher.
  void ConnectionGone(const TWsConnection* connection) {
    if (linked_ == connection) linked_ = nullptr;
  }

 private:
  static platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                      platform::LPARAM lParam);
  static void TimerProc(platform::HWND hwnd, platform::UINT msg, platform::UINT_PTR idEvent, std::uint32_t time);
  // One step of DeviceSetup: false when it failed with anything but would-block.
  bool SetupStepOk(int result);
  void RunTriggers();
  // After a fill whose triggers ran: whether the pass fills again.
  bool MayFillAgain(std::size_t heldBefore);
  // After a pass: a peer's close whose data has been read is told, and bytes the connection still
  // holds (or a pass cut short by its bound) get the next pass at once instead of at the next tick.
  void FollowUp(std::size_t heldBefore, bool cut);

  bool inDispatch_ = false;
  // The connection from a successful DeviceSetup until DeviceClose: the data path, which asks for
  // it several times per fill, need not search the shared list under its lock each time.
  TWsConnection* linked_ = nullptr;
  TSockAddrIn remoteAddress_{};
  TSockAddrIn localAddress_{};
  bool clientMode_ = true;
  bool useTelnet_ = false;
  // The socket error that made DeviceSetup fail (0 once it succeeded).
  std::int32_t setupError_ = 0;
};
