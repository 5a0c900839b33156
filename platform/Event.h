// Events: a handler is an object and one of its methods. Two handlers are equal when they name the
// same method of the same object, so that code can detach exactly the handler it attached;
// SameMethod compares the method alone, whatever the object (a handler list that removes "this
// method" regardless of its object needs that).
#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>

namespace platform {

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

  // Binds a callable under a name that identifies it for object (for example a window's method
  // bound by its name from a stored form, or a test's handler).
  TEvent(const void* object, std::string name, std::function<void(Args...)> call)
      : object_(object), identity_(std::move(name)), call_(std::move(call)), named_(true) {}

  explicit operator bool() const { return static_cast<bool>(call_); }
  void operator()(Args... args) const {
    if (call_) call_(std::forward<Args>(args)...);
  }
  // The method's name when the handler was bound by name, else empty.
  std::string Name() const { return named_ ? identity_ : std::string(); }
  const void* Object() const { return object_; }

  bool operator==(const TEvent& other) const { return object_ == other.object_ && SameMethod(other); }
  bool SameMethod(const TEvent& other) const { return identity_ == other.identity_ && named_ == other.named_; }

 private:
  static constexpr std::size_t kMethodBytes = 2 * sizeof(void*);

  const void* object_ = nullptr;
  std::string identity_;
  std::function<void(Args...)> call_;
  bool named_ = false;
};

}  // namespace platform
