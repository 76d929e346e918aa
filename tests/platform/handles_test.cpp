#include <gtest/gtest.h>

#include <vector>

#include "platform/handles.h"

namespace {

std::vector<HANDLE> g_closed;

BOOL WINAPI RecordClose(HANDLE h) {
  g_closed.push_back(h);
  return sys::realCalls().CloseHandle(h);
}

TEST(Handles, OwnersReleaseLastDeclaredFirstAndOnlyRealHandles) {
  g_closed.clear();
  sys::ScopedCall<decltype(&::CloseHandle)> watch(sys::calls().CloseHandle, RecordClose);
  HANDLE first = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  {
    sys::UniqueHandle a(first);
    sys::UniqueHandle b(second);
    sys::UniqueHandle invalid(INVALID_HANDLE_VALUE);
    sys::UniqueHandle null;
  }
  EXPECT_EQ(g_closed, (std::vector<HANDLE>{second, first}));
}

TEST(Handles, TakeHandsOwnershipOn) {
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE taken;
  {
    sys::UniqueHandle owner(event);
    taken = owner.take();
    EXPECT_FALSE(owner.valid());
  }
  EXPECT_NE(::SetEvent(taken), 0) << "the owner closed a handle it had handed on";
  ::CloseHandle(taken);
}

TEST(Handles, ScopedCallRestoresTheRow) {
  {
    sys::ScopedCall<decltype(&::CloseHandle)> watch(sys::calls().CloseHandle, RecordClose);
    EXPECT_EQ(sys::calls().CloseHandle, &RecordClose);
  }
  EXPECT_EQ(sys::calls().CloseHandle, sys::realCalls().CloseHandle);
}

}  // namespace
