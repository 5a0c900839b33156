// A window: a control with a caption and a client area that owns the components of a stored form
// and offers its methods to that form's events by name. The application derives its windows from
// it and registers their handlers with RegisterMethod before reading the form.
#pragma once

#include <string>

#include "ui/Control.h"
#include "ui/Methods.h"

namespace ui {

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter };

class TForm : public TControl, public TMethodProvider {
 public:
  explicit TForm(platform::TComponent* owner);
  std::string ClassName() const override { return "TForm"; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; Changed(ccCaption); }
  int ClientWidth() const { return clientWidth_; }
  void SetClientWidth(int value) { clientWidth_ = value; }
  int ClientHeight() const { return clientHeight_; }
  void SetClientHeight(int value) { clientHeight_ = value; }
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value) { borderStyle_ = value; }
  TPosition Position() const { return position_; }
  void SetPosition(TPosition value) { position_ = value; }

  const TNotifyEvent& OnCreate() const { return onCreate_; }
  void SetOnCreate(TNotifyEvent event) { onCreate_ = std::move(event); }
  const TNotifyEvent& OnClose() const { return onClose_; }
  void SetOnClose(TNotifyEvent event) { onClose_ = std::move(event); }
  const TNotifyEvent& OnDestroy() const { return onDestroy_; }
  void SetOnDestroy(TNotifyEvent event) { onDestroy_ = std::move(event); }

  // Runs OnCreate; the application calls it once the form is read.
  void DoCreate() { onCreate_(this); }
  // Runs OnClose and marks the window closed; the front end hears ccClosed and hides it.
  void Close();
  bool IsClosed() const { return closed_; }
  // Runs OnDestroy; the application calls it before it frees the window.
  void DoDestroy() { onDestroy_(this); }

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string caption_;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  TFormBorderStyle borderStyle_ = bsSizeable;
  TPosition position_ = poDesigned;
  TNotifyEvent onCreate_;
  TNotifyEvent onClose_;
  TNotifyEvent onDestroy_;
  bool closed_ = false;
};

}  // namespace ui
