#pragma once
// The small vocabulary of window messages that the stand-ins share with their callers.
#include <cstdint>

namespace platform {

using HWND = std::uintptr_t;  // a message window's handle; 0 is no window
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BOOL = int;

inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

}  // namespace platform
