// What the packet lifetime rows of the serial and the socket port do inside a packet event.
#pragma once

#include <memory>

#include "comm/QsPacket.h"

enum class TPacketAct { ClosePort, ReopenPort, FreePort, FreePacket };

// Closes, reopens or frees the port, or frees the packet.
template <typename TPortClass>
void ApplyPacketAct(TPacketAct act, std::unique_ptr<TPortClass>& port, std::unique_ptr<TQsDataPacket>& packet) {
  switch (act) {
    case TPacketAct::ClosePort:
      port->SetOpen(false);
      break;
    case TPacketAct::ReopenPort:
      port->SetOpen(false);
      port->SetOpen(true);
      break;
    case TPacketAct::FreePort:
      port.reset();
      break;
    case TPacketAct::FreePacket:
      packet.reset();
      break;
  }
}
