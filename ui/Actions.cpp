#include "ui/Actions.h"

#include "ui/Control.h"
#include "ui/Methods.h"

namespace ui {

void TAction::SetCaption(const std::string& value) {
  caption_ = value;
  NotifyClients();
}

void TAction::SetHint(const std::string& value) {
  hint_ = value;
  NotifyClients();
}

bool TAction::Execute() {
  if (!enabled_ || !onExecute_) return false;
  onExecute_(this);
  return true;
}

void TAction::NotifyClients() {
  // The controls that show an action belong to the same window as the action.
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    auto* control = dynamic_cast<TControl*>(Owner()->Components(i));
    if (control != nullptr && control->Action() == this) control->ActionChanged();
  }
}

const platform::PropertyTable& TAction::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&platform::TComponent::ClassProperties());
    t.Property("Caption", &TAction::Caption, &TAction::SetCaption)
        .Property("Hint", &TAction::Hint, &TAction::SetHint)
        .Property("Enabled", &TAction::Enabled, &TAction::SetEnabled);
    AddEventProperty(t, "OnExecute", &TAction::OnExecute, &TAction::SetOnExecute);
    return t;
  }();
  return table;
}

}  // namespace ui
