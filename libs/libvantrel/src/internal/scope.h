// Small RAII helpers usable with -fno-exceptions: one cleanup path per
// function, dismissed on success.
#ifndef VANTREL_INTERNAL_SCOPE_H
#define VANTREL_INTERNAL_SCOPE_H

#include <utility>

#include "internal/alloc.h"

namespace vantrel::internal {

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F fn) : fn_(std::move(fn)) {}
  ScopeExit(const ScopeExit &) = delete;
  ScopeExit &operator=(const ScopeExit &) = delete;
  ~ScopeExit() {
    if (active_) fn_();
  }
  void Dismiss() { active_ = false; }

 private:
  F fn_;
  bool active_ = true;
};

// Owns a block from the funnel until Release() hands it over.
template <typename T>
class HeapPtr {
 public:
  explicit HeapPtr(T *p = nullptr) : p_(p) {}
  HeapPtr(const HeapPtr &) = delete;
  HeapPtr &operator=(const HeapPtr &) = delete;
  ~HeapPtr() { Free(p_); }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T *Release() { return std::exchange(p_, nullptr); }

 private:
  T *p_;
};

}  // namespace vantrel::internal

#endif  // VANTREL_INTERNAL_SCOPE_H
