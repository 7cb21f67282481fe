// Failures put into words: the one place every layer reports through. It needs nothing but the
// session record, so the image and command layers can report without knowing the driver.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "session/session.h"

namespace z18 {

// A name or path as the tool shows it. Names come from images and host folders that may be
// hostile, and a terminal obeys the control bytes it is sent (clearing the screen, setting the
// window title or the clipboard), so the control bytes 0x00-0x1F and 0x7F are written as \xHH,
// two upper-case hex digits; every other byte is written as it is.
struct Visible {
    const char* text;
    std::size_t size;
};
inline Visible visible(const std::string& text) { return {text.data(), text.size()}; }
inline Visible visible(const char* text, std::size_t size) { return {text, size}; }
Visible visible(const char* text);
std::ostream& operator<<(std::ostream& out, Visible name);

// Prints the one line that describes a failure, naming what the session has in hand.
void reportStatus(Session& s, StatusCode code);

}  // namespace z18
