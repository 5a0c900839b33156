// Menus: a main menu holding menu items, each with a caption, a hint and items of its own.
#pragma once

#include <string>
#include <vector>

#include "platform/Component.h"
#include "ui/Events.h"

namespace ui {

class TMenuItem : public platform::TComponent {
 public:
  explicit TMenuItem(platform::TComponent* owner) : platform::TComponent(owner) {}
  ~TMenuItem() override;
  std::string ClassName() const override { return "TMenuItem"; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  bool Checked() const { return checked_; }
  void SetChecked(bool value) { checked_ = value; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  const TNotifyEvent& OnClick() const { return onClick_; }
  void SetOnClick(TNotifyEvent event) { onClick_ = std::move(event); }
  void Click() { onClick_(this); }

  // The sub-items in order; the item holds them on screen, the window owns them.
  const std::vector<TMenuItem*>& Items() const { return items_; }
  void Add(TMenuItem* item);
  TMenuItem* Parent() const { return parent_; }

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string caption_;
  std::string hint_;
  bool checked_ = false;
  bool enabled_ = true;
  TNotifyEvent onClick_;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
};

class TMainMenu : public platform::TComponent {
 public:
  explicit TMainMenu(platform::TComponent* owner);
  std::string ClassName() const override { return "TMainMenu"; }
  // The menu bar's items.
  TMenuItem& Items() { return root_; }

 private:
  TMenuItem root_{nullptr};
};

}  // namespace ui
