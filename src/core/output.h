// Standard output of the commands. Lines are flushed as they are written, so
// that a reply is out before a slow step (a refresh, a pause) begins.
#pragma once

#include <string_view>

namespace mivora::core {

void printLine(std::string_view line);
void printText(std::string_view text); // no line break added
void printErrorText(std::string_view text); // standard error, used only by the frame

} // namespace mivora::core
