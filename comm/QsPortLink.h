// What the communications core needs of a port component: its dispatcher, whether it is open or
// still loading, and a way to hear about its opening and closing. The port component implements
// it, so that the core (data packets) does not depend on the port layer above it.
#pragma once

#include "platform/Event.h"

namespace platform {
class TComponent;
}
class TQsBaseDispatcher;

// Called with true once the port has opened, with false while it is closing.
using TQsPortLinkCallback = platform::TEvent<bool>;

class TQsPortLink {
 public:
  virtual ~TQsPortLink() = default;
  // The open port's dispatcher, without opening on demand; null while closed.
  virtual TQsBaseDispatcher* LinkDispatcher() const = 0;
  virtual bool LinkOpen() const = 0;
  virtual bool LinkLoading() const = 0;
  virtual platform::TComponent* LinkComponent() = 0;
  virtual void RegisterLinkUser(const TQsPortLinkCallback& callback) = 0;
  // Removes the registration of that method of that object.
  virtual void UnregisterLinkUser(const TQsPortLinkCallback& callback) = 0;
};
