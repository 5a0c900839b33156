#include "ui/Menus.h"

#include <algorithm>

#include "ui/Methods.h"

namespace ui {

TMenuItem::~TMenuItem() {
  for (TMenuItem* item : items_) item->parent_ = nullptr;
  if (parent_ != nullptr) std::erase(parent_->items_, this);
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == nullptr || item->parent_ == this) return;
  for (const TMenuItem* p = this; p != nullptr; p = p->parent_) {
    if (p == item) throw platform::Exception("A menu item cannot hold itself");
  }
  if (item->parent_ != nullptr) std::erase(item->parent_->items_, item);
  item->parent_ = this;
  items_.push_back(item);
}

const platform::PropertyTable& TMenuItem::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&platform::TComponent::ClassProperties());
    t.Property("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption)
        .Property("Hint", &TMenuItem::Hint, &TMenuItem::SetHint)
        .Property("Checked", &TMenuItem::Checked, &TMenuItem::SetChecked)
        .Property("Enabled", &TMenuItem::Enabled, &TMenuItem::SetEnabled);
    AddEventProperty(t, "OnClick", &TMenuItem::OnClick, &TMenuItem::SetOnClick);
    return t;
  }();
  return table;
}

TMainMenu::TMainMenu(platform::TComponent* owner) : platform::TComponent(owner) {}

}  // namespace ui
