// A user's Cancel, shared between the thread that shows the Cancel button and
// the thread that transfers. Set once, never cleared. Besides the flag it
// holds an event, so that a transfer waiting for the network wakes at once.
#pragma once

#include <windows.h>

#include "frame/Handle.h"

class CancelFlag {
 public:
  CancelFlag();
  CancelFlag(const CancelFlag&) = delete;
  CancelFlag& operator=(const CancelFlag&) = delete;

  void Set();
  bool IsSet() const;
  // Signalled once the flag is set (manual reset); null if it could not be made.
  HANDLE Event() const { return event_.get(); }

 private:
  mutable volatile LONG set_ = 0;
  frame::ScopedHandle event_;
};
