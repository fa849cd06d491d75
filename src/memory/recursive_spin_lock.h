#pragma once

#include <windows.h>

// A lock that a thread may enter again while it holds it. Waiting threads
// spin with SwitchToThread between attempts; nothing sleeps on a kernel
// object. Zero-filled it is free, so a static needs no initialisation.
struct RecursiveSpinLock {
  volatile LONG owner;  // thread id of the holder, 0 when free
  LONG depth;           // touched only by the holder
};

void EnterRecursiveSpinLock(RecursiveSpinLock& lock);
void LeaveRecursiveSpinLock(RecursiveSpinLock& lock);
