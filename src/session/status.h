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
// window title or the clipboard), so every byte that could be one is written as \xHH, two
// upper-case hex digits: the C0 controls 0x00-0x1F and DEL, the C1 controls U+0080-U+009F in
// either form (raw bytes 0x80-0x9F, which an 8-bit terminal obeys, or UTF-8 C2 80 to C2 9F), and
// every byte that is no part of well-formed UTF-8, which a terminal would guess at. Well-formed
// UTF-8 of any other character is written as it is.
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
