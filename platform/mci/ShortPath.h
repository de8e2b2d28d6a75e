#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the open command's element stands for (inside the MCI layer only).
namespace mci::detail {

// The longest short form GetShortPathNameA gives out: its mark and at most 19 digits.
inline constexpr std::size_t kLongestShortForm = 20;

// The path that `element` names: the path behind a short form that GetShortPathNameA gave out,
// otherwise the element itself with every %XX taken as the byte XX.
std::string pathOfElement(std::string_view element);

// %XX as the byte XX; a '%' not followed by two hex digits stands for itself.
std::string unescapePath(std::string_view element);

} // namespace mci::detail
