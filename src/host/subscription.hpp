#pragma once
// Event subscriptions of the object model. A handler stays registered while
// the Subscription handle that registering returned lives; destroying,
// resetting or assigning over the handle drops it. Handles move, never copy,
// and may outlive the object whose event they watch.
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace host {

class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  Subscription(Subscription&& other) noexcept : disconnect_(std::exchange(other.disconnect_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      Reset();
      disconnect_ = std::exchange(other.disconnect_, nullptr);
    }
    return *this;
  }
  ~Subscription() { Reset(); }

  void Reset() noexcept {
    if (auto f = std::exchange(disconnect_, nullptr)) {
      try {
        f();
      } catch (...) {
        // Dropping a handler never fails.
      }
    }
  }
  bool Active() const noexcept { return static_cast<bool>(disconnect_); }
  explicit operator bool() const noexcept { return Active(); }

 private:
  std::function<void()> disconnect_;
};

namespace detail {

// A list of handlers of one event. Raising works on a snapshot, so handlers
// may subscribe and unsubscribe while the event runs; a handler dropped
// meanwhile is not called any more.
template <class... Args>
class EventSource {
 public:
  using Handler = std::function<void(Args...)>;
  struct Slot {
    Handler handler;
    bool active = true;
  };

  Subscription Add(Handler handler) {
    auto slot = std::make_shared<Slot>(Slot{std::move(handler), true});
    slots_->push_back(slot);
    std::weak_ptr<std::vector<std::shared_ptr<Slot>>> list = slots_;
    std::weak_ptr<Slot> weak = slot;
    return Subscription([list, weak] {
      auto s = weak.lock();
      if (!s) return;
      s->active = false;
      if (auto l = list.lock()) {
        l->erase(std::remove(l->begin(), l->end(), s), l->end());
      }
    });
  }

  // The handlers registered now.
  std::vector<std::shared_ptr<Slot>> Snapshot() const { return *slots_; }
  bool Empty() const { return slots_->empty(); }

 private:
  std::shared_ptr<std::vector<std::shared_ptr<Slot>>> slots_ =
      std::make_shared<std::vector<std::shared_ptr<Slot>>>();
};

}  // namespace detail
}  // namespace host
