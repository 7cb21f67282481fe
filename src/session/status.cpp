#include "session/status.h"

#include "session/texts.h"

namespace z18 {

namespace {
constexpr int kStatusCount = static_cast<int>(sizeof texts::STATUS_TEXTS / sizeof texts::STATUS_TEXTS[0]);
static_assert(kStatusCount == ST_IMAGE_EXISTS - ST_CORRUPT_ENTRY + 1, "one text for every status code");
}  // namespace

void reportStatus(Session& s, StatusCode code) {
    const int index = -static_cast<int>(code) - 1;
    if (index >= 0 && index < kStatusCount) {
        const texts::StatusText& t = texts::STATUS_TEXTS[index];
        s.out << t.before;
        switch (t.name) {
            case texts::StatusText::IMAGE: s.out << s.imageName; break;
            case texts::StatusText::CURRENT: s.out << s.currentName; break;
            case texts::StatusText::ENTRY: s.out << s.entryInfo.displayName; break;
            case texts::StatusText::NONE: break;
        }
        s.out << t.after;
    }
    s.out << texts::STATUS_TAIL;
    newlineFlush(s);
}

}  // namespace z18
