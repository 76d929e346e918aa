#include "tests/faults/countdown.h"

#include <array>
#include <atomic>
#include <mutex>
#include <type_traits>
#include <utility>

#include "tests/faults/table_rows.h"

namespace fault {
namespace {

struct State {
  std::mutex mutex;
  bool counting = false;   // guarded by mutex
  std::size_t targetRow = 0;      // guarded by mutex
  unsigned targetOccurrence = 0;  // guarded by mutex; 0: nothing fails
  std::array<unsigned, kRowCount> occurrences{};  // guarded by mutex
  DWORD error = 0;         // guarded by mutex
  bool fired = false;      // guarded by mutex
  std::vector<std::size_t> sites;  // guarded by mutex
  std::array<RowFailure, kRowCount> failures{};
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

template <std::size_t I, typename Fn>
struct Trampoline;

template <std::size_t I, typename R, typename... A>
struct Trampoline<I, R(WINAPI*)(A...)> {
  using Fn = R(WINAPI*)(A...);
  static constexpr bool kCanFail = !std::is_void_v<R>;
  static Fn Below() { return std::get<I>(VisitRows(state().below, [](auto&... rows) { return std::tie(rows...); })); }

  static R WINAPI Call(A... args) {
    State& s = state();
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
      Below()(args...);
    } else {
      const RowFailure& failure = s.failures[I];
      const std::uintptr_t failed = failure.returnsError ? error : failure.value;
      if (fail && !failure.keepsEffect) {
        ::SetLastError(error);
        return FromBits<R>(failed);
      }
      R result = Below()(args...);
      if (auto observer = s.observers[I].load()) reinterpret_cast<void (*)(R, A...)>(observer)(result, args...);
      if (fail) {
        ::SetLastError(error);
        return FromBits<R>(failed);
      }
      return result;
    }
  }
};

template <std::size_t... I>
void InstallTrampolines(std::index_sequence<I...>) {
  VisitRows(sys::calls(), [](auto&... rows) {
    auto install = [](auto& row, auto index) {
      using Fn = std::remove_reference_t<decltype(row)>;
      using Row = Trampoline<decltype(index)::value, Fn>;
      row = &Row::Call;
      state().canFail[decltype(index)::value] = Row::kCanFail;
    };
    (install(rows, std::integral_constant<std::size_t, I>{}), ...);
  });
}

template <std::size_t... I>
constexpr std::array<std::string_view, kRowCount> Names(std::index_sequence<I...>) {
  return {RowName<I>()...};
}
constexpr auto kNames = Names(std::make_index_sequence<kRowCount>{});

}  // namespace

Countdown::Countdown() {
  State& s = state();
  s.below = sys::calls();
  InstallTrampolines(std::make_index_sequence<kRowCount>{});
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
std::string Countdown::RowName(std::size_t row) { return std::string(kNames.at(row)); }
bool Countdown::CanFail(std::size_t row) { return state().canFail.at(row); }
const RowFailure& Countdown::Failure(std::size_t row) { return state().failures.at(row); }

void SetFailure(std::size_t row, const RowFailure& failure) { state().failures.at(row) = failure; }

namespace detail {
void SetObserver(std::size_t row, AnyObserver observer) { state().observers.at(row) = observer; }
}  // namespace detail

}  // namespace fault
