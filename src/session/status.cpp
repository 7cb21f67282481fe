#include "session/status.h"

#include <cstring>

#include "session/texts.h"

namespace z18 {

namespace {
constexpr int kStatusCount = static_cast<int>(sizeof texts::STATUS_TEXTS / sizeof texts::STATUS_TEXTS[0]);
static_assert(kStatusCount == ST_IMAGE_EXISTS - ST_CORRUPT_ENTRY + 1, "one text for every status code");
}  // namespace

Visible visible(const char* text) { return {text, std::strlen(text)}; }

std::ostream& operator<<(std::ostream& out, Visible name) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    const char* run = name.text;  // the bytes since the last escape, written in one go
    const char* end = name.text + name.size;
    for (const char* at = name.text; at != end; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c >= 0x20 && c != 0x7F) continue;
        out.write(run, at - run);
        const char escaped[4] = {'\\', 'x', HEX[c >> 4], HEX[c & 0xF]};
        out.write(escaped, sizeof escaped);
        run = at + 1;
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
