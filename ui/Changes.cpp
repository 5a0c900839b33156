#include "ui/Changes.h"

#include <algorithm>
#include <vector>

namespace ui {

namespace {

std::vector<TChangeObserver*>& Observers() {
  static std::vector<TChangeObserver*> observers;
  return observers;
}

}  // namespace

void AddChangeObserver(TChangeObserver* observer) {
  auto& observers = Observers();
  if (observer != nullptr && std::find(observers.begin(), observers.end(), observer) == observers.end()) {
    observers.push_back(observer);
  }
}

void RemoveChangeObserver(TChangeObserver* observer) { std::erase(Observers(), observer); }

void NotifyChanged(TControl& control, TControlChange change) {
  const auto& observers = Observers();
  if (observers.empty()) return;
  // A copy: an observer may add or remove observers while it is told.
  const std::vector<TChangeObserver*> current = observers;
  for (TChangeObserver* observer : current) {
    if (std::find(Observers().begin(), Observers().end(), observer) != Observers().end()) {
      observer->ControlChanged(control, change);
    }
  }
}

}  // namespace ui
