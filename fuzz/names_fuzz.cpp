// The name procedures on arbitrary bytes: makeCpmName in both modes, describeEntry on a raw
// directory entry, and the host wildcard match. Checks the properties the rest of the tool builds
// on: what is accepted is a clean 11-character pattern, a rejection changes nothing, check mode is
// conversion mode without wildcards, and a stored name reads back as a name that converts to itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "image/cpm_name.h"
#include "session/geometry.h"
#include "support/mem_env.h"

using namespace z18;

namespace {

[[noreturn]] void broken(const char* what, const std::string& text) {
    std::fprintf(stderr, "\ninvariant broken: %s (text of %zu bytes:", what, text.size());
    for (unsigned char c : text) std::fprintf(stderr, " %02X", c);
    std::fprintf(stderr, ")\n");
    std::abort();
}
#define EXPECT(cond, what)               \
    do {                                 \
        if (!(cond)) broken(what, text); \
    } while (0)

constexpr char kSentinel[] = "#SENTINEL#!";  // 11 characters no conversion can produce

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    MemEnv env;
    std::ostringstream out;
    Session s(env, out);

    // Conversion mode.
    CpmName name;
    std::memcpy(name.chars, kSentinel, 12);
    s.maskHasWildcard = 7;
    const int converted = makeCpmName(s, &name, text);
    if (!converted) {
        EXPECT(std::memcmp(name.chars, kSentinel, 12) == 0, "a rejection changed the destination");
        EXPECT(s.maskHasWildcard == 7, "a rejection changed the wildcard flag");
    } else {
        EXPECT(name.chars[11] == '\0', "pattern not terminated");
        EXPECT(name.chars[0] != ' ', "pattern begins with a space");
        bool wildcard = false, space = false;
        for (int i = 0; i < 11; ++i) {
            const unsigned char c = static_cast<unsigned char>(name.chars[i]);
            EXPECT(c >= 0x20 && c <= 0x7E, "unprintable character stored");
            EXPECT(std::strchr("<>.,;:=[]%|()/\\*", c) == nullptr || c == 0, "forbidden character stored");
            EXPECT(!(c >= 'a' && c <= 'z'), "lower-case letter stored");
            if (i < 8 && c == ' ') space = true;
            if (i < 8 && c != ' ') EXPECT(!space, "name character after a space");
            wildcard = wildcard || c == '?';
        }
        EXPECT(s.maskHasWildcard == (wildcard ? 1 : 0), "wildcard flag does not match the pattern");
    }

    // Check mode accepts exactly the texts that convert to a pattern without wildcards.
    const int checked = makeCpmName(s, nullptr, text);
    EXPECT(checked == (converted && s.maskHasWildcard == 0 ? 1 : 0),
           "check mode and conversion mode disagree");

    // A name accepted for storing reads back, through describeEntry, as a name that the directory
    // load accepts. It converts back to itself unless the type has a gap (" B", "B C"), which the
    // display form cannot show.
    if (checked) {
        std::memset(s.directory, FILLER_BYTE, sizeof s.directory);
        std::uint8_t* e = s.entryAt(5);
        std::memset(e, 0, ENTRY_SIZE);
        std::memcpy(e + 1, name.chars, 11);
        describeEntry(s, 5);
        const std::string shown = s.entryInfo.displayName;
        EXPECT(makeCpmName(s, nullptr, shown) == 1, "a stored name does not pass the load check");
        const std::string type(name.chars + 8, 3);
        const std::size_t gap = type.find(' ');
        if (gap == std::string::npos || type.find_first_not_of(' ', gap) == std::string::npos) {
            CpmName again;
            EXPECT(makeCpmName(s, &again, shown) == 1, "display name does not convert");
            EXPECT(std::memcmp(again.chars, name.chars, 12) == 0, "display name converts to another name");
        }
    }

    // describeEntry on raw bytes: any entry gives a bounded, terminated, upper-case display name.
    std::memset(s.directory, FILLER_BYTE, sizeof s.directory);
    std::memcpy(s.directory, data, std::min(size, ENTRY_SIZE));
    describeEntry(s, 0);
    const std::size_t length = strnlen(s.entryInfo.displayName, sizeof s.entryInfo.displayName);
    EXPECT(length <= 12, "display name too long");  // a zero first name byte gives ""
    for (std::size_t i = 0; i < length; ++i)
        EXPECT(!(s.entryInfo.displayName[i] >= 'a' && s.entryInfo.displayName[i] <= 'z'), "lower case shown");
    EXPECT(s.entryInfo.readOnly == ((s.directory[9] & 0x80) ? 1 : 0), "read-only flag wrong");
    EXPECT(s.entryInfo.hidden == ((s.directory[10] & 0x80) ? 1 : 0), "hidden flag wrong");

    // The host search's wildcard match: name and mask split at the first zero byte. It must
    // finish quickly on any input (the fuzzer's time-out catches a blow-up), and a wildcard-free
    // name always matches itself.
    const std::size_t zero = text.find('\0');
    const std::string hostName = text.substr(0, zero);
    const std::string mask = zero == std::string::npos ? std::string("*") : text.substr(zero + 1);
    const bool matched = matchesHostMask(hostName, mask);
    (void)matched;
    if (!hostName.empty() && hostName.find_first_of("*?") == std::string::npos)
        EXPECT(matchesHostMask(hostName, hostName), "a name does not match itself");
    return 0;
}
