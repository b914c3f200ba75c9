// Text as the instance's tables keep it: cut to a column's width, and the
// time as its date columns hold it.
#pragma once

#include <string>
#include <string_view>

namespace ocisim {

// A text cut to the width of the column it goes into, in bytes, as the server
// keeps it: never in the middle of a character.
std::string fit(std::string_view text, size_t width);

std::string nowText();

}  // namespace ocisim
