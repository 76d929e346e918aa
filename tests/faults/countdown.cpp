#include "tests/faults/countdown.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <type_traits>

namespace fault {
namespace {

// The rows, from the table's own list: each one's index, name and failure.
enum : std::size_t {
#define FAULT_INDEX(name, failure) kRow_##name,
  SYS_CALLS(FAULT_INDEX)
#undef FAULT_INDEX
  kRowCount
};

// RowIndex counts rows by their offset in the table.
#define FAULT_AT_INDEX(name, failure) \
  static_assert(offsetof(sys::Calls, name) == kRow_##name * sizeof(void*), "every row is one function pointer");
SYS_CALLS(FAULT_AT_INDEX)
#undef FAULT_AT_INDEX
static_assert(sizeof(sys::Calls) == kRowCount * sizeof(void*), "every row is one function pointer");

struct RowEntry {
  std::string_view name;
  sys::Failure failure;
};
constexpr std::array<RowEntry, kRowCount> kRows = [] {
  using namespace sys;  // the failures are written in the table's words
  return std::array<RowEntry, kRowCount>{{
#define FAULT_ROW(name, failure) {#name, failure},
      SYS_CALLS(FAULT_ROW)
#undef FAULT_ROW
  }};
}();

struct State {
  std::mutex mutex;
  bool counting = false;   // guarded by mutex
  std::size_t targetRow = 0;      // guarded by mutex
  unsigned targetOccurrence = 0;  // guarded by mutex; 0: nothing fails
  std::array<unsigned, kRowCount> occurrences{};  // guarded by mutex
  DWORD error = 0;         // guarded by mutex
  bool fired = false;      // guarded by mutex
  std::vector<std::size_t> sites;  // guarded by mutex
  std::array<bool, kRowCount> canFail{};
  std::array<std::atomic<detail::AnyObserver>, kRowCount> observers{};
  sys::Calls below{};  // what each row held before the countdown took it
};

State& state() {
  static State s;
  return s;
}

template <typename R>
R FromBits(std::uintptr_t bits) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(bits);
  } else {
    return static_cast<R>(bits);
  }
}

template <std::size_t I, typename Fn, Fn sys::Calls::*Member>
struct Trampoline;

template <std::size_t I, typename R, typename... A, R(WINAPI* sys::Calls::*Member)(A...)>
struct Trampoline<I, R(WINAPI*)(A...), Member> {
  static constexpr bool kCanFail = !std::is_void_v<R>;

  static R WINAPI Call(A... args) {
    State& s = state();
    const auto below = s.below.*Member;
    bool fail = false;
    DWORD error = 0;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (s.counting) {
        s.sites.push_back(I);
        const unsigned occurrence = ++s.occurrences[I];
        if constexpr (!std::is_void_v<R>) {
          if (I == s.targetRow && occurrence == s.targetOccurrence) {
            fail = true;
            s.fired = true;
            error = s.error;
          }
        }
      }
    }
    if constexpr (std::is_void_v<R>) {
      below(args...);
    } else {
      constexpr sys::Failure failure = kRows[I].failure;
      const std::uintptr_t failed = failure.returnsError ? error : failure.value;
      if (fail && !failure.keepsEffect) {
        ::SetLastError(error);
        return FromBits<R>(failed);
      }
      R result = below(args...);
      if (auto observer = s.observers[I].load()) reinterpret_cast<void (*)(R, A...)>(observer)(result, args...);
      if (fail) {
        ::SetLastError(error);
        return FromBits<R>(failed);
      }
      return result;
    }
  }
};

template <std::size_t I, typename Fn, Fn sys::Calls::*Member>
void Install() {
  using Row = Trampoline<I, Fn, Member>;
  sys::calls().*Member = &Row::Call;
  state().canFail[I] = Row::kCanFail;
}

void InstallTrampolines() {
#define FAULT_INSTALL(name, failure) Install<kRow_##name, decltype(sys::Calls::name), &sys::Calls::name>();
  SYS_CALLS(FAULT_INSTALL)
#undef FAULT_INSTALL
}

}  // namespace

Countdown::Countdown() {
  state().below = sys::calls();
  InstallTrampolines();
}

Countdown::~Countdown() {
  Disarm();
  sys::calls() = state().below;
}

void Countdown::Arm() { Arm(0, 0, 0); }

void Countdown::Arm(std::size_t row, unsigned occurrence, DWORD error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.counting = true;
  s.targetRow = row;
  s.targetOccurrence = occurrence;
  s.occurrences.fill(0);
  s.error = error;
  s.fired = false;
  s.sites.clear();
}

void Countdown::Disarm() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.counting = false;
  s.targetOccurrence = 0;
}

std::vector<std::size_t> Countdown::Sites() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.sites;
}

bool Countdown::Fired() const {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.fired;
}

std::size_t Countdown::RowCount() { return kRowCount; }
std::string Countdown::RowName(std::size_t row) { return std::string(kRows.at(row).name); }
bool Countdown::CanFail(std::size_t row) { return state().canFail.at(row); }
const sys::Failure& Countdown::Failure(std::size_t row) { return kRows.at(row).failure; }

namespace detail {
void SetObserver(std::size_t row, AnyObserver observer) { state().observers.at(row) = observer; }
}  // namespace detail

}  // namespace fault
