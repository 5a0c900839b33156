// Events: a handler is an object and one of its methods. Handlers compare equal when they name the
// same method of the same object, so that code can detach exactly the handler it attached, and a
// stored form can bind an event to a method of its window by the method's name.
#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>

namespace platform {
class TComponent;
}

namespace ui {

template <typename... Args>
class TEvent {
 public:
  TEvent() = default;

  // Binds a member function of object.
  template <typename C>
  TEvent(C* object, void (C::*method)(Args...))
      : object_(object), call_([object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); }) {
    static_assert(sizeof(method) <= kMethodBytes, "member function pointer larger than expected");
    std::array<unsigned char, kMethodBytes> bytes{};
    std::memcpy(bytes.data(), &method, sizeof(method));
    identity_ = typeid(C).name();
    identity_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  // Binds a callable under a name that identifies it for object (a window's method by its name).
  TEvent(const void* object, std::string name, std::function<void(Args...)> call)
      : object_(object), identity_(std::move(name)), call_(std::move(call)), named_(true) {}

  explicit operator bool() const { return static_cast<bool>(call_); }
  void operator()(Args... args) const {
    if (call_) call_(std::forward<Args>(args)...);
  }
  // The method's name when the handler was bound by name (as a stored form does), else empty.
  std::string Name() const { return named_ ? identity_ : std::string(); }

  bool operator==(const TEvent& other) const {
    return object_ == other.object_ && identity_ == other.identity_ && named_ == other.named_;
  }

 private:
  static constexpr std::size_t kMethodBytes = 2 * sizeof(void*);

  const void* object_ = nullptr;
  std::string identity_;
  std::function<void(Args...)> call_;
  bool named_ = false;
};

using TNotifyEvent = TEvent<platform::TComponent*>;

}  // namespace ui
