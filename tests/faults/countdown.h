// "Make the Nth platform call fail with error E; make every other one as usual": a counting layer over
// every row of the platform-call table.
//
// While a Countdown lives, each row of `sys::calls()` holds a trampoline of the row's own type that
// counts the call and then calls what the row held before (the real function, or a test's fake put
// there first). Once armed with a target, that call does not go through: it sets the error and
// returns the row's failure value. A target is a row and the how-manieth call of that row it is, so
// that calls two threads make in either order name the same site. A release (a close, a free) that
// is made to fail still releases first, so a run leaks nothing real. Observers see every call's
// result, failed ones excepted, which is how the ledger counts acquisitions and releases.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/syscalls.h"

namespace fault {

class Countdown {
 public:
  Countdown();
  ~Countdown();
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;

  // Starts counting from zero: counting only, or with the `occurrence`-th call (from 1) of `row` failing
  // with `error`.
  void Arm();
  void Arm(std::size_t row, unsigned occurrence, DWORD error);
  // Stops counting; calls go through again.
  void Disarm();

  // The row index of every call counted since Arm, in order.
  std::vector<std::size_t> Sites() const;
  bool Fired() const;

  static std::size_t RowCount();
  static std::string RowName(std::size_t row);
  // Void rows cannot fail.
  static bool CanFail(std::size_t row);
  // How the row fails, as the table of platform calls says.
  static const sys::Failure& Failure(std::size_t row);
};

// Row index of a table member: `RowIndex(&sys::Calls::CloseHandle)`.
template <typename Fn>
std::size_t RowIndex(Fn sys::Calls::*member) {
  static sys::Calls probe{};
  return static_cast<std::size_t>(reinterpret_cast<const char*>(&(probe.*member)) -
                                  reinterpret_cast<const char*>(&probe)) /
         sizeof(void*);
}

namespace detail {
using AnyObserver = void (*)();
void SetObserver(std::size_t row, AnyObserver observer);
}  // namespace detail

// Calls `observer(result, arguments...)` after every call of the row that went through.
template <typename R, typename... A>
void Observe(R(WINAPI* sys::Calls::*member)(A...), void (*observer)(R, A...)) {
  detail::SetObserver(RowIndex(member), reinterpret_cast<detail::AnyObserver>(observer));
}

}  // namespace fault
