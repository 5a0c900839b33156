// Change notification: how a front end hears that a control's presented state changed. Controls
// call NotifyChanged from their setters; with no observer installed that costs one test of an
// empty list. Changes made while a control is being read from a stored form are not reported: the
// front end presents a form once it is read, and reads its state then.
#pragma once

namespace ui {

class TControl;

enum TControlChange {
  ccCaption,     // a caption (a form's caption too)
  ccText,        // the text of an edit or combo box
  ccLines,       // a memo's lines were replaced (its Text or Lines set, or cleared)
  ccLineAdded,   // one line was appended to a memo: its last line
  ccItems,       // the items of a list (a file list box re-read its folder), or the selection
  ccStatusText,  // a status bar's simple text or a panel's text
  ccEnabled,
  ccVisible,
  ccBounds,
  ccFont,        // the font, also when it followed the parent's
  ccColor,
  ccPicture,     // a picture's or a picture button's picture file
  ccState,       // read-only, checked, word wrap and similar switches
  ccClosed,      // a form was closed (its OnClose has run)
  ccDestroyed,   // the control is being destroyed: use its address only, call nothing on it
};

class TChangeObserver {
 public:
  virtual ~TChangeObserver() = default;
  virtual void ControlChanged(TControl& control, TControlChange change) = 0;
};

// Observers are not owned; an observer removes itself before it is destroyed. Adding one twice
// has no effect.
void AddChangeObserver(TChangeObserver* observer);
void RemoveChangeObserver(TChangeObserver* observer);

// Tells every observer, in the order they were added.
void NotifyChanged(TControl& control, TControlChange change);

}  // namespace ui
