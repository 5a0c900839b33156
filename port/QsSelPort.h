// Choosing a serial port: the probe that tells whether a port can be opened, and the way the port
// component reaches the port selection dialog without depending on the user interface. The dialog
// (port/QsSelPortForm.h) installs itself here; without it the selection is cancelled.
#pragma once

#include <functional>

// True when port number can be opened now, or exists but another program holds it.
bool IsPortAvailable(int number);

// The modal results the selection reports.
constexpr int kSelectionOk = 1;
constexpr int kSelectionCancel = 2;

// Shows the selection modally: the modal result, and with kSelectionOk the chosen port number.
using TPortSelectionDialog = std::function<int(int& selectedPort)>;

// Installs the dialog (an empty function removes it); returns the previous one.
TPortSelectionDialog SetPortSelectionDialog(TPortSelectionDialog dialog);
// What CheckPortNumber calls: the installed dialog's answer, kSelectionCancel without one.
int ShowPortSelection(int& selectedPort);
