#pragma once
// Objects under counted handle values. Values count up and are never reused,
// so a stale handle can never reach a newer object.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace w32 {

template <class Object>
class HandleMap {
 public:
  HandleMap(ULONG_PTR first, ULONG_PTR step) : next_(first), step_(step) {}
  HandleMap(const HandleMap&) = delete;
  HandleMap& operator=(const HandleMap&) = delete;

  // `name` gives the object its value under the lock, before any lookup can find it.
  template <class Name>
  ULONG_PTR Insert(std::shared_ptr<Object> object, Name name) {
    std::lock_guard<std::mutex> guard(lock_);
    const ULONG_PTR value = next_;
    next_ += step_;
    name(*object, value);
    objects_.emplace(value, std::move(object));
    return value;
  }

  std::shared_ptr<Object> Lookup(ULONG_PTR value) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = objects_.find(value);
    return it == objects_.end() ? nullptr : it->second;
  }

  // Takes the object out; the caller's reference ends it, outside the lock.
  std::shared_ptr<Object> Remove(ULONG_PTR value) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = objects_.find(value);
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<Object> removed = std::move(it->second);
    objects_.erase(it);
    return removed;
  }

  // Every object, oldest first.
  std::vector<std::shared_ptr<Object>> All() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::shared_ptr<Object>> all;
    all.reserve(objects_.size());
    for (const auto& entry : objects_) all.push_back(entry.second);
    return all;
  }

  // Takes out every object the predicate picks; they end with the returned references.
  template <class Predicate>
  std::vector<std::shared_ptr<Object>> RemoveIf(Predicate picks) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::shared_ptr<Object>> removed;
    for (auto it = objects_.begin(); it != objects_.end();) {
      if (picks(*it->second)) {
        removed.push_back(std::move(it->second));
        it = objects_.erase(it);
      } else {
        ++it;
      }
    }
    return removed;
  }

 private:
  mutable std::mutex lock_;
  std::map<ULONG_PTR, std::shared_ptr<Object>> objects_;
  ULONG_PTR next_;
  const ULONG_PTR step_;
};

}  // namespace w32
