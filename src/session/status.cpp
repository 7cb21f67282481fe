#include "session/status.h"

#include <cstring>

#include "host/ascii.h"
#include "session/texts.h"

namespace z18 {

namespace {
constexpr int kStatusCount = static_cast<int>(sizeof texts::STATUS_TEXTS / sizeof texts::STATUS_TEXTS[0]);
static_assert(kStatusCount == ST_IMAGE_EXISTS - ST_CORRUPT_ENTRY + 1, "one text for every status code");

// The length of the well-formed UTF-8 sequence of a character other than a C1 control that
// starts at p, or 0 where none does. Overlong forms, surrogates and anything past U+10FFFF are
// no well-formed UTF-8.
std::size_t keptSequence(const char* p, const char* end) {
    const auto at = [p](std::size_t i) { return static_cast<unsigned char>(p[i]); };
    const unsigned lead = at(0);
    std::size_t n = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        if (lead == 0xC2) low = 0xA0;  // C2 80 to C2 9F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    return n;
}

}  // namespace

Visible visible(const char* text) { return {text, std::strlen(text)}; }

std::ostream& operator<<(std::ostream& out, Visible name) {
    const char* run = name.text;  // the bytes since the last escape, written in one go
    const char* end = name.text + name.size;
    for (const char* at = name.text; at != end;) {
        const auto c = static_cast<unsigned char>(*at);
        if (isPrintableAscii(c)) {
            ++at;
            continue;
        }
        if (const std::size_t n = c < 0x80 ? 0 : keptSequence(at, end)) {
            at += n;
            continue;
        }
        out.write(run, at - run);
        const char escaped[4] = {'\\', 'x', hexDigit(c >> 4), hexDigit(c)};
        out.write(escaped, sizeof escaped);
        run = ++at;
    }
    out.write(run, end - run);
    return out;
}

void reportStatus(Session& s, StatusCode code) {
    const int index = -static_cast<int>(code) - 1;
    if (index >= 0 && index < kStatusCount) {
        const texts::StatusText& t = texts::STATUS_TEXTS[index];
        s.out << t.before;
        switch (t.name) {
            case texts::StatusText::IMAGE: s.out << visible(s.imageName); break;
            case texts::StatusText::CURRENT: s.out << visible(s.currentName); break;
            case texts::StatusText::ENTRY: s.out << visible(s.entryInfo.displayName); break;
            case texts::StatusText::NONE: break;
        }
        s.out << t.after;
    }
    s.out << texts::STATUS_TAIL;
    newlineFlush(s);
}

}  // namespace z18
