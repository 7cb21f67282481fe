// Host-side wildcard matching for the add command's directory search.
#include "host/ascii.h"
#include "host/env.h"

namespace z18 {

namespace {

// Classic greedy matcher with one backtrack point: linear in practice, never exponential.
bool globMatch(const std::string& name, const std::string& mask) {
    std::size_t n = 0, m = 0, starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        // A "*" of the mask is a wildcard before anything else, even over a "*" in the name:
        // taken as a literal it would leave such a name unmatched, and the add would pass it over
        // in silence instead of refusing its name.
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || asciiUpper(mask[m]) == asciiUpper(name[n]))) {
            ++n;
            ++m;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace

bool matchesHostMask(const std::string& name, const std::string& mask) {
    // Names that begin with a dot (".", "..", hidden files) only answer a mask that asks for them.
    if (!name.empty() && name[0] == '.' && (mask.empty() || mask[0] != '.')) return false;
    if (globMatch(name, mask)) return true;
    return name.find('.') == std::string::npos && globMatch(name + ".", mask);
}

}  // namespace z18
