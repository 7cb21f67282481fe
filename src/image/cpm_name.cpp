#include "image/cpm_name.h"

#include <cstring>

#include "host/ascii.h"

namespace z18 {

namespace {

constexpr char FORBIDDEN[] = "<>.,;:=[]%|()/\\";

}  // namespace

void upperCase(char* text) {
    for (; *text; ++text) *text = asciiUpper(*text);
}

void upperCase(std::string& text) {
    for (char& c : text) c = asciiUpper(c);
}

void padField(char* dest, const char* text, int width) {
    if (width <= 0) {
        dest[0] = '\0';
        return;
    }
    for (int i = 0; i < width; ++i) {
        if (text == nullptr || *text == '\0') {
            dest[i] = ' ';
        } else if (*text == '*') {
            dest[i] = '?';  // never advance past a "*": it fills the rest of the field
        } else {
            dest[i] = *text++;
        }
    }
    dest[width] = '\0';
}

bool parseCpmName(const std::string& input, CpmName* dest) {
    // The text ends at its first zero byte, as a display name does.
    const std::size_t length = std::strlen(input.c_str());
    if (length == 0 || length > NAME_TEXT_SIZE) return false;

    char work[NAME_TEXT_SIZE + 1];
    std::memcpy(work, input.c_str(), length + 1);
    upperCase(work);

    const char* typeText = nullptr;
    if (char* dot = std::strrchr(work, '.')) {
        *dot = '\0';
        typeText = dot + 1;
        if (std::strlen(typeText) > TYPE_SIZE) return false;
    }
    char type[TYPE_SIZE + 1];
    padField(type, typeText, TYPE_SIZE);

    const std::size_t nameLength = std::strlen(work);
    if (nameLength == 0 || nameLength > NAME_SIZE) return false;
    char name[NAME_SIZE + 1];
    padField(name, work, NAME_SIZE);

    char all[NAME_TYPE_SIZE];
    std::memcpy(all, name, NAME_SIZE);
    std::memcpy(all + NAME_SIZE, type, TYPE_SIZE);

    bool spaceSeen = false;
    for (std::size_t i = 0; i < sizeof all; ++i) {
        const unsigned char c = static_cast<unsigned char>(all[i]);
        const bool inName = i < NAME_SIZE;
        if (c < 0x20 || c > 0x7E) return false;
        if (c == ' ') {
            if (i == 0) return false;
            spaceSeen = true;
            continue;
        }
        if (inName && spaceSeen) return false;
        if (std::strchr(FORBIDDEN, c) != nullptr) return false;
        if (dest == nullptr && (c == '?' || c == '*')) return false;
    }

    if (dest != nullptr) std::memcpy(dest->chars, all, sizeof all);
    return true;
}

int makeCpmName(Session& s, CpmName* dest, const std::string& text) {
    if (!parseCpmName(text, dest)) return 0;
    if (dest != nullptr) s.maskHasWildcard = std::memchr(dest->chars, '?', NAME_TYPE_SIZE) != nullptr ? 1 : 0;
    return 1;
}

void displayName(const std::uint8_t* nameType, char* text) {
    const std::uint8_t* type = nameType + NAME_SIZE;
    std::size_t n = 0;
    for (std::size_t i = 0; i < NAME_SIZE && nameType[i] != ' '; ++i)
        text[n++] = static_cast<char>(nameType[i]);
    if (n == 0) text[n++] = ' ';

    if ((type[0] & NO_BIT_7) != ' ') {
        text[n++] = '.';
        for (std::size_t i = 0; i < TYPE_SIZE; ++i) {
            const char c = static_cast<char>(type[i] & NO_BIT_7);
            if (c == ' ') break;
            text[n++] = c;
        }
    }
    text[n] = '\0';
    upperCase(text);
}

void describeEntry(Session& s, int index) { describeEntry(s.entryAt(index), &s.entryInfo); }

void describeEntry(const std::uint8_t* e, EntryInfo* out) {
    EntryInfo& info = *out;
    info.user = e[entry::USER];
    displayName(e + entry::NAME, info.displayName);

    info.readOnly = (e[entry::TYPE] & ATTRIBUTE_BIT) ? 1 : 0;
    info.hidden = (e[entry::TYPE + 1] & ATTRIBUTE_BIT) ? 1 : 0;
}

bool storableName(const std::uint8_t* e) {
    EntryInfo info;
    describeEntry(e, &info);
    CpmName name;
    if (!parseCpmName(info.displayName, &name)) return false;
    for (std::size_t k = 0; k < NAME_TYPE_SIZE; ++k)
        if (name.chars[k] == '?' || name.chars[k] != static_cast<char>(e[entry::NAME + k] & NO_BIT_7))
            return false;
    return true;
}

}  // namespace z18
