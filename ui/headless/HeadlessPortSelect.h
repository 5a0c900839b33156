// The port selection dialog without a display. The dialog is written as
//   dialog: Select Port | COM1 COM2 ...   (its caption and the ports it lists)
// and answered at once: the port that the environment variable QUILLSTAGE_SERIAL_PORT names
// (for example "COM2") is selected and OK pressed; when the variable is unset or names no listed
// port, Cancel is pressed. The answer is written as "answer: COM2" or "answer: cancel".
#pragma once

#include "ui/headless/LineWriter.h"

class TComSelectForm;

namespace headless {

// Answers dialog as above; returns its modal result.
int AnswerPortSelection(TComSelectForm& dialog, LineWriter& writer, const char* wantedPort);

}  // namespace headless
