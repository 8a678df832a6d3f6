#include "transfer/CancelFlag.h"

CancelFlag::CancelFlag() : event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

void CancelFlag::Set() {
  ::InterlockedExchange(&set_, 1);
  if (event_) ::SetEvent(event_.get());
}

bool CancelFlag::IsSet() const { return ::InterlockedCompareExchange(&set_, 0, 0) != 0; }
