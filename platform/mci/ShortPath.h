#pragma once

#include <string>
#include <string_view>

// The reversible, space-free form of paths that commands carry (inside the MCI layer only).
namespace mci::detail {

// Every byte that would split or confuse a command (controls, space, '"', '%', DEL) as %XX.
std::string escapePath(std::string_view path);
// The reverse; a '%' not followed by two hex digits stands for itself.
std::string unescapePath(std::string_view element);

} // namespace mci::detail
