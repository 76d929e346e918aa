// Move-only owners for the Win32 handles the service obtains, so that every path out of an operation
// releases what it obtained. Releases go through the platform-call table so tests can watch them.
// Declare owners in the reverse of the order their releases must happen: destructors run last-first.
#pragma once

#include <utility>

#include "platform/syscalls.h"

namespace sys {

template <typename Traits>
class Owned {
 public:
  using Handle = typename Traits::Handle;

  Owned() = default;
  explicit Owned(Handle h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : h_(other.take()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.take());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return h_; }
  bool valid() const { return Traits::IsValid(h_); }
  explicit operator bool() const { return valid(); }
  // For out-parameters: releases what is held and hands out the slot.
  Handle* receive() {
    reset();
    return &h_;
  }
  Handle take() { return std::exchange(h_, Traits::Empty()); }
  void reset(Handle h = Traits::Empty()) {
    if (Traits::IsValid(h_)) Traits::Release(h_);
    h_ = h;
  }

 private:
  Handle h_ = Traits::Empty();
};

// Kernel handles (threads, events, tokens, snapshots): empty is null or INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Release(Handle h) { calls().CloseHandle(h); }
};
using UniqueHandle = Owned<KernelHandleTraits>;

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { calls().CloseServiceHandle(h); }
};
using UniqueServiceHandle = Owned<ServiceHandleTraits>;

struct EnvironmentBlockTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { calls().DestroyEnvironmentBlock(h); }
};
using UniqueEnvironmentBlock = Owned<EnvironmentBlockTraits>;

struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { calls().FreeLibrary(h); }
};
using UniqueLibrary = Owned<LibraryTraits>;

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { calls().DeregisterEventSource(h); }
};
using UniqueEventSource = Owned<EventSourceTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { calls().RegCloseKey(h); }
};
using UniqueRegistryKey = Owned<RegistryKeyTraits>;

// Memory the system allocated for the caller: security descriptors, SID strings (LocalFree), and the
// session queries' answers (WTSFreeMemory). Their release cannot fail in a way anyone acts on, so it
// is not a row of the table.
struct LocalMemoryTraits {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::LocalFree(h); }
};
using UniqueLocalMemory = Owned<LocalMemoryTraits>;

struct WtsMemoryTraits {
  using Handle = char*;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::WTSFreeMemory(h); }
};
using UniqueWtsMemory = Owned<WtsMemoryTraits>;

// The two handles CreateProcess* hands back: the process first, then its first thread.
class UniqueProcessInformation {
 public:
  UniqueProcessInformation() = default;
  ~UniqueProcessInformation() { reset(); }
  UniqueProcessInformation(const UniqueProcessInformation&) = delete;
  UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;

  PROCESS_INFORMATION* receive() {
    reset();
    return &pi_;
  }
  const PROCESS_INFORMATION& get() const { return pi_; }
  void reset() {
    if (KernelHandleTraits::IsValid(pi_.hProcess)) calls().CloseHandle(pi_.hProcess);
    if (KernelHandleTraits::IsValid(pi_.hThread)) calls().CloseHandle(pi_.hThread);
    pi_ = PROCESS_INFORMATION{};
  }

 private:
  PROCESS_INFORMATION pi_{};
};

}  // namespace sys
