#include "run/command_line.h"

#include "image/image_file.h"
#include "run/texts.h"
#include "session/status.h"

namespace z18 {

void splitPath(std::string& dir, std::string& name, const std::string& text) {
    const std::size_t at = text.find_last_of("\\/");
    if (at == std::string::npos) {
        dir.clear();
        name = text;
    } else {
        dir = text.substr(0, at + 1);
        name = text.substr(at + 1);
    }
}

namespace {

OptionFlags optionBit(const std::string& arg) {
    if (arg.size() != 2 || arg[0] != '/') return 0;
    switch (arg[1]) {
        case 'a': return OPT_ADD;
        case 'c': return OPT_CATALOGUE;
        case 'e': return OPT_ERASE;
        case 'f': return OPT_FULL_FORMAT;
        case 'q': return OPT_QUICK_FORMAT;
        case 'x': return OPT_EXTRACT;
        default: return 0;
    }
}

bool takesArgument(OptionFlags bit) {
    return bit == OPT_ADD || bit == OPT_CATALOGUE || bit == OPT_ERASE || bit == OPT_EXTRACT;
}

bool combinationValid(OptionFlags o, bool argumentExpected) {
    const OptionFlags formats = OPT_FULL_FORMAT | OPT_QUICK_FORMAT | OPT_ADD;
    const OptionFlags readers = OPT_CATALOGUE | OPT_ERASE | OPT_EXTRACT;
    if (o == 0) return false;
    if (argumentExpected && !(o & OPT_CATALOGUE)) return false;
    if ((o & OPT_FULL_FORMAT) && (o & OPT_QUICK_FORMAT)) return false;
    if ((o & OPT_ERASE) && (o & OPT_EXTRACT)) return false;
    if ((o & OPT_CATALOGUE) && o != OPT_CATALOGUE) return false;
    if ((o & formats) && (o & readers)) return false;
    if ((o & OPT_ERASE) && o != OPT_ERASE) return false;
    if ((o & OPT_EXTRACT) && o != OPT_EXTRACT) return false;
    return true;
}

}  // namespace

int parseCommandLine(Session& s, int argc, const char* const* argv) {
    if (argc < 2) return 0;
    s.hostDir.clear();
    s.currentName.clear();
    s.mask.clear();
    s.options = 0;

    nameImage(s, argv[1]);

    bool argumentExpected = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (argumentExpected) {
            splitPath(s.hostDir, s.mask, arg);
            if (!(s.options & (OPT_ADD | OPT_EXTRACT)) && !s.hostDir.empty()) return 0;
            argumentExpected = false;
            continue;
        }
        const OptionFlags bit = optionBit(arg);
        if (bit == 0) return 0;
        s.options |= bit;
        argumentExpected = takesArgument(bit);
    }

    if (!combinationValid(s.options, argumentExpected)) return 0;
    if (argumentExpected) s.mask = "*.*";  // "/c" as the last word lists everything
    if (s.options == OPT_FULL_FORMAT) s.options |= OPT_NEW_IMAGE;
    return 1;
}

void printUsage(Session& s) {
    const Visible p = visible(s.programName);
    s.out << texts::USAGE_HEAD;
    s.out << "  " << p << texts::USAGE_CATALOGUE;
    s.out << "  " << p << texts::USAGE_FORMAT << texts::USAGE_FORMAT_ADD;
    s.out << "  " << p << texts::USAGE_ERASE;
    s.out << "  " << p << texts::USAGE_EXTRACT;
    s.out << texts::USAGE_OPTIONS;
}

}  // namespace z18
