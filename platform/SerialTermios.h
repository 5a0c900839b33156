// How the line-settings record and a terminal's termios settings translate into each other.
#pragma once

#include <termios.h>

#include "platform/Serial.h"

namespace platform {

// False for what no UART can make: a rate termios has no code for, 5 to 8 data bits only,
// parity 0 to 4, one and a half stop bits only with 5 data bits and two only with more, and equal
// Xon and Xoff characters while either software flow is on.
bool ValidCommState(const TCommState& state);
// Puts the record's rate, character format, flow control and Xon/Xoff characters into t, leaving
// everything else of t as it is.
void CommStateToTermios(const TCommState& state, termios& t);
// Takes those fields from t into state; the others (DTR control, DSR flow, the limits) stay.
void TermiosToCommState(const termios& t, TCommState& state);

}  // namespace platform
