// Scope guards: an action that runs when a scope is left, on every way out or
// only when an exception leaves it. They take the place of undo blocks that
// catch an exception only to put something back and raise it again.
#pragma once

#include <exception>
#include <utility>

// Runs `action` when the scope ends, however it ends. The action must not throw.
template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F action) : action_(std::move(action)) {}
  ~TScopeExit() { action_(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F action_;
};

// Runs `undo` only when an exception leaves the scope; a scope that ends
// normally keeps what it did. The undo must not throw.
template <class F>
class TUndoOnFailure {
 public:
  explicit TUndoOnFailure(F undo) : undo_(std::move(undo)), exceptions_(std::uncaught_exceptions()) {}
  ~TUndoOnFailure() {
    if (std::uncaught_exceptions() > exceptions_) undo_();
  }
  TUndoOnFailure(const TUndoOnFailure&) = delete;
  TUndoOnFailure& operator=(const TUndoOnFailure&) = delete;

 private:
  F undo_;
  int exceptions_;
};
