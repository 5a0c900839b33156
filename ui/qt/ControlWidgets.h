// One Qt widget for each control of the model: which widget a kind becomes, and how a change of
// the control's state reaches its widget.
//
//   label (and other caption controls)  QLabel            memo            QPlainTextEdit
//   push button, picture button        QPushButton       check box       QCheckBox
//   list box, file list box, combo box  QListWidget       edit            QLineEdit
//   status bar                          QStatusBar (its simple text, or its panels' texts)
//   picture                             QLabel showing the picture file
// Any other kind becomes an empty frame at its place. The widget's object name is the control's name.
// The mirror runs one way, from the model to the widgets, except for clicks: what a user types into
// a memo or selects in a list stays in the widget (the downloader's memos and list only show).
#pragma once

#include <QWidget>

#include "ui/Changes.h"
#include "ui/Control.h"

namespace qtfront {

// A new widget for control inside parent, showing the control's whole state. Clicks on buttons
// run the control's Click (its handler's exceptions go to the platform's exception handler).
QWidget* CreateControlWidget(ui::TControl& control, QWidget* parent);
// Brings widget up to date after change (never called with ccDestroyed or ccClosed).
void ApplyChange(ui::TControl& control, QWidget& widget, ui::TControlChange change);

}  // namespace qtfront
