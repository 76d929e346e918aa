// Every row of the platform-call table, with its exact type and its name, without a list of them:
// the table is an aggregate of function pointers, so a structured binding of as many names as it has
// rows yields each row by reference, and the compiler's spelling of a pointer to a row names it. A
// row added to the table is thus reached here without touching this file.
#pragma once

#include <cstddef>
#include <string_view>
#include <tuple>
#include <utility>

#include "platform/syscalls.h"

namespace fault {

inline constexpr std::size_t kRowCount = sizeof(sys::Calls) / sizeof(void*);
static_assert(sizeof(sys::Calls) % sizeof(void*) == 0, "every row is a function pointer");
static_assert(kRowCount >= 10 && kRowCount < 100, "extend the bindings below");

// Ten binding names r<t>0..r<t>9, and the first 10*t of them.
#define FAULT_R10(t) r##t##0, r##t##1, r##t##2, r##t##3, r##t##4, r##t##5, r##t##6, r##t##7, r##t##8, r##t##9
#define FAULT_T1 FAULT_R10(0)
#define FAULT_T2 FAULT_T1, FAULT_R10(1)
#define FAULT_T3 FAULT_T2, FAULT_R10(2)
#define FAULT_T4 FAULT_T3, FAULT_R10(3)
#define FAULT_T5 FAULT_T4, FAULT_R10(4)
#define FAULT_T6 FAULT_T5, FAULT_R10(5)
#define FAULT_T7 FAULT_T6, FAULT_R10(6)
#define FAULT_T8 FAULT_T7, FAULT_R10(7)
#define FAULT_T9 FAULT_T8, FAULT_R10(8)
// Then u more of them: r<t>0..r<t>(u-1), each after a comma.
#define FAULT_U0(t)
#define FAULT_U1(t) , r##t##0
#define FAULT_U2(t) FAULT_U1(t), r##t##1
#define FAULT_U3(t) FAULT_U2(t), r##t##2
#define FAULT_U4(t) FAULT_U3(t), r##t##3
#define FAULT_U5(t) FAULT_U4(t), r##t##4
#define FAULT_U6(t) FAULT_U5(t), r##t##5
#define FAULT_U7(t) FAULT_U6(t), r##t##6
#define FAULT_U8(t) FAULT_U7(t), r##t##7
#define FAULT_U9(t) FAULT_U8(t), r##t##8
#define FAULT_BIND(t, u)                                   \
  else if constexpr (kRowCount == t * 10 + u) {            \
    auto& [FAULT_T##t FAULT_U##u(t)] = table;              \
    return visit(FAULT_T##t FAULT_U##u(t));                \
  }
#define FAULT_BIND_TENS(t)                                                                                  \
  FAULT_BIND(t, 0) FAULT_BIND(t, 1) FAULT_BIND(t, 2) FAULT_BIND(t, 3) FAULT_BIND(t, 4) FAULT_BIND(t, 5) \
  FAULT_BIND(t, 6) FAULT_BIND(t, 7) FAULT_BIND(t, 8) FAULT_BIND(t, 9)

// Calls `visit(row0, row1, ...)` with every row of `table` by reference.
template <typename Table, typename Visit>
constexpr decltype(auto) VisitRows(Table& table, Visit&& visit) {
  static_assert(sizeof(Table) == sizeof(sys::Calls));
  if constexpr (false) {
  }
  FAULT_BIND_TENS(1) FAULT_BIND_TENS(2) FAULT_BIND_TENS(3) FAULT_BIND_TENS(4) FAULT_BIND_TENS(5)
  FAULT_BIND_TENS(6) FAULT_BIND_TENS(7) FAULT_BIND_TENS(8) FAULT_BIND_TENS(9)
}

#undef FAULT_T1
#undef FAULT_T2
#undef FAULT_T3
#undef FAULT_T4
#undef FAULT_T5
#undef FAULT_T6
#undef FAULT_T7
#undef FAULT_T8
#undef FAULT_T9
#undef FAULT_U0
#undef FAULT_U1
#undef FAULT_U2
#undef FAULT_U3
#undef FAULT_U4
#undef FAULT_U5
#undef FAULT_U6
#undef FAULT_U7
#undef FAULT_U8
#undef FAULT_U9
#undef FAULT_R10
#undef FAULT_BIND
#undef FAULT_BIND_TENS

namespace detail {
// Only its rows' addresses are taken, in constant expressions; it is never defined.
extern sys::Calls g_nameSource;
inline constexpr auto kRowAddresses = VisitRows(g_nameSource, [](auto&... rows) { return std::make_tuple(&rows...); });
template <auto RowAddress>
constexpr std::string_view Spelling() {
  return __PRETTY_FUNCTION__;
}
}  // namespace detail

// Row I's name as the table spells it: "...(& fault::detail::g_nameSource.sys::Calls::CreateEventA)...".
template <std::size_t I>
constexpr std::string_view RowName() {
  constexpr std::string_view spelling = detail::Spelling<std::get<I>(detail::kRowAddresses)>();
  constexpr std::string_view marker = "Calls::";
  constexpr std::size_t start = spelling.find(marker) + marker.size();
  constexpr std::size_t end = spelling.find_first_of(");]", start);
  static_assert(spelling.find(marker) != std::string_view::npos, "the compiler spells row names differently");
  return spelling.substr(start, end - start);
}

}  // namespace fault
