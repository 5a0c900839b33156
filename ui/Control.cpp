#include "ui/Control.h"

#include <algorithm>
#include <cstdint>

#include "ui/Actions.h"
#include "ui/Methods.h"

namespace ui {

TControl::TControl(platform::TComponent* owner)
    : platform::TComponent(owner),
      action_(*this, [](const platform::TComponent& c) { return dynamic_cast<const TAction*>(&c) != nullptr; }) {}

TControl::~TControl() {
  NotifyChanged(*this, ccDestroyed);
  for (TControl* child : controls_) child->parent_ = nullptr;
  if (parent_ != nullptr) std::erase(parent_->controls_, this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed(ccBounds);
}

void TControl::SetFont(const TFont& font) {
  font_ = font;
  parentFont_ = false;
  FontChanged();
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  if (parentFont_ && parent_ != nullptr) {
    font_ = parent_->font_;
    FontChanged();
  }
}

void TControl::FontChanged() {
  Changed(ccFont);
  for (TControl* child : controls_) {
    if (child->parentFont_) {
      child->font_ = font_;
      child->FontChanged();
    }
  }
}

void TControl::SetParent(TControl* parent) {
  if (parent == parent_) return;
  for (const TControl* p = parent; p != nullptr; p = p->parent_) {
    if (p == this) throw platform::Exception("A control cannot be its own parent");
  }
  if (parent_ != nullptr) std::erase(parent_->controls_, this);
  parent_ = parent;
  if (parent_ == nullptr) return;
  parent_->controls_.push_back(this);
  if (parentFont_) {
    font_ = parent_->font_;
    FontChanged();
  }
}

std::vector<TControl*> TControl::TabOrderList() const {
  std::vector<TControl*> list = controls_;
  std::stable_sort(list.begin(), list.end(), [](const TControl* a, const TControl* b) {
    // Controls without a tab order (-1) come last.
    const auto key = [](const TControl* c) { return c->tabOrder_ < 0 ? INT32_MAX : c->tabOrder_; };
    return key(a) < key(b);
  });
  return list;
}

void TControl::SetAction(platform::TComponent* action) {
  action_.Set(action);
  if (action_.Get() != nullptr) ActionChanged();
}

void TControl::Click() {
  auto* action = dynamic_cast<TAction*>(action_.Get());
  if (action != nullptr && action->Execute()) return;
  onClick_(this);
}

void TControl::ActionChanged() {
  const auto* action = dynamic_cast<const TAction*>(action_.Get());
  if (action == nullptr) return;
  if (HasProperty("Caption")) SetProperty("Caption", action->Caption());
  hint_ = action->Hint();
}

void TControl::Loaded() {
  platform::TComponent::Loaded();
  action_.Resolve();
  if (action_.Get() != nullptr) ActionChanged();
}

void TControl::Notification(platform::TComponent* component, platform::TOperation operation) {
  platform::TComponent::Notification(component, operation);
  if (operation == platform::opRemove) action_.Removed(component);
}

const platform::PropertyTable& TControl::ClassProperties() {
  using platform::TComponent;
  using platform::Variant;
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&TComponent::ClassProperties());
    t.Property("Left", &TControl::Left, &TControl::SetLeft)
        .Property("Top", &TControl::Top, &TControl::SetTop)
        .Property("Width", &TControl::Width, &TControl::SetWidth)
        .Property("Height", &TControl::Height, &TControl::SetHeight)
        .Property("Visible", &TControl::Visible, &TControl::SetVisible)
        .Property("Enabled", &TControl::Enabled, &TControl::SetEnabled)
        .Property("Hint", &TControl::Hint, &TControl::SetHint)
        .Property("ShowHint", &TControl::ShowHint, &TControl::SetShowHint)
        .Property("TabOrder", &TControl::TabOrder, &TControl::SetTabOrder)
        .Property("TabStop", &TControl::TabStop, &TControl::SetTabStop)
        .Property("ParentFont", &TControl::ParentFont, &TControl::SetParentFont);
    t.Add("Color", [](const TComponent& c) { return ColorToVariant(static_cast<const TControl&>(c).Color()); },
          [](TComponent& c, const Variant& v) { static_cast<TControl&>(c).SetColor(ColorFromVariant(v)); });
    // The font's parts are properties of their own, as a stored form writes them.
    const auto fontPart = [&t](const char* name, auto get, auto set) {
      t.Add(name, [get](const TComponent& c) { return get(static_cast<const TControl&>(c).Font()); },
            [set](TComponent& c, const Variant& v) {
              auto& control = static_cast<TControl&>(c);
              TFont font = control.Font();
              set(font, v);
              control.SetFont(font);
            });
    };
    fontPart("Font.Name", [](const TFont& f) { return Variant(f.name); },
             [](TFont& f, const Variant& v) { f.name = v.AsString(); });
    fontPart("Font.Height", [](const TFont& f) { return Variant(f.height); },
             [](TFont& f, const Variant& v) { f.height = platform::PropertyTable::Convert<int>(v); });
    fontPart("Font.Size", [](const TFont& f) { return Variant(f.Size()); },
             [](TFont& f, const Variant& v) { f.SetSize(platform::PropertyTable::Convert<int>(v)); });
    fontPart("Font.CharSet", [](const TFont& f) { return Variant(f.charSet); },
             [](TFont& f, const Variant& v) { f.charSet = CharSetFromVariant(v); });
    fontPart("Font.Color", [](const TFont& f) { return ColorToVariant(f.color); },
             [](TFont& f, const Variant& v) { f.color = ColorFromVariant(v); });
    fontPart("Font.Style", [](const TFont& f) { return Variant(f.style); },
             [](TFont& f, const Variant& v) { f.style = FontStyleFromVariant(v); });
    t.Add("Action", [](const TComponent& c) { return static_cast<const TControl&>(c).action_.Value(); },
          [](TComponent& c, const Variant& v) {
            auto& control = static_cast<TControl&>(c);
            control.action_.SetValue(v);
            if (control.action_.Get() != nullptr) control.ActionChanged();
          });
    AddEventProperty(t, "OnClick", &TControl::OnClick, &TControl::SetOnClick);
    return t;
  }();
  return table;
}

}  // namespace ui
