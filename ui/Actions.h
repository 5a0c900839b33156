// Actions: a command with its own texts (Caption, Hint) that the controls linked to it show, and
// the action list that groups them.
#pragma once

#include <string>

#include "platform/Component.h"
#include "ui/Events.h"

namespace ui {

class TAction : public platform::TComponent {
 public:
  explicit TAction(platform::TComponent* owner) : platform::TComponent(owner) {}
  std::string ClassName() const override { return "TAction"; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

  const TNotifyEvent& OnExecute() const { return onExecute_; }
  void SetOnExecute(TNotifyEvent event) { onExecute_ = std::move(event); }
  // Runs OnExecute when enabled; false when nothing ran.
  bool Execute();

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  void NotifyClients();

  std::string caption_;
  std::string hint_;
  bool enabled_ = true;
  TNotifyEvent onExecute_;
};

class TActionList : public platform::TComponent {
 public:
  explicit TActionList(platform::TComponent* owner) : platform::TComponent(owner) {}
  std::string ClassName() const override { return "TActionList"; }
};

}  // namespace ui
