#pragma once

// The classic platform's scalar type names, as the stand-in calls spell their parameters,
// declared once for every layer. A layer adds only its own handle and result types (HKEY,
// HRESULT, COLORREF).

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t; // 0 is FALSE, anything else TRUE
