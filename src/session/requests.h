// The requests a run can be given, one row each: what the command line accepts, how the image is
// opened, and what the driver does around the command all follow from these rows, so a new
// request is one more row here and its procedure bound in commands/commands.h.
#pragma once

#include <cstdint>

namespace z18 {

using OptionFlags = std::uint32_t;
// Set with a full format alone, and when the run has just created the image: the boot area and
// signature record are written.
constexpr OptionFlags OPT_NEW_IMAGE = 0x01;
constexpr OptionFlags OPT_FULL_FORMAT = 0x02;
constexpr OptionFlags OPT_QUICK_FORMAT = 0x04;
constexpr OptionFlags OPT_ADD = 0x08;
constexpr OptionFlags OPT_ERASE = 0x10;
constexpr OptionFlags OPT_EXTRACT = 0x20;
constexpr OptionFlags OPT_CATALOGUE = 0x40;

// The word that follows a switch: none, a CP/M name or mask alone, or one that may carry the
// host directory it stands in.
enum class FileArgument { None, Name, Path };

// What a request asks of a run besides its command.
namespace trait {
constexpr unsigned FORMAT = 0x01;           // a format step of the driver, run before any command
constexpr unsigned AFTER_FORMAT = 0x02;     // a command that a format may go with, in either order
constexpr unsigned WRITES_IMAGE = 0x04;     // the image is opened for writing and held alone
constexpr unsigned CREATES_IMAGE = 0x08;    // a missing or empty image is made
constexpr unsigned SAVES_DIRECTORY = 0x10;  // the directory is written back after the command
}  // namespace trait

struct Request {
    char letter;  // the switch is "/" and this letter, lower case only
    OptionFlags option;
    FileArgument argument;
    const char* argumentWhenLast;  // taken when the switch ends the command line; null: an error
    unsigned traits;

    constexpr bool has(unsigned trait) const { return (traits & trait) != 0; }
};

// In the order the syntax help lists them; the driver runs the first command it finds in this
// order, though the command line never lets two through.
inline constexpr Request REQUESTS[] = {
    {'c', OPT_CATALOGUE, FileArgument::Name, "*.*", 0},
    {'f', OPT_FULL_FORMAT, FileArgument::None, nullptr,
     trait::FORMAT | trait::WRITES_IMAGE | trait::CREATES_IMAGE},
    {'q', OPT_QUICK_FORMAT, FileArgument::None, nullptr, trait::FORMAT | trait::WRITES_IMAGE},
    {'a', OPT_ADD, FileArgument::Path, nullptr,
     trait::AFTER_FORMAT | trait::WRITES_IMAGE | trait::CREATES_IMAGE | trait::SAVES_DIRECTORY},
    {'e', OPT_ERASE, FileArgument::Name, nullptr, trait::WRITES_IMAGE | trait::SAVES_DIRECTORY},
    {'x', OPT_EXTRACT, FileArgument::Path, nullptr, 0},
};

// Each request has a letter and a bit of its own; one that formats, creates or writes back must
// open the image for writing; only a switch that takes an argument can have one taken for it.
constexpr bool requestsAgree() {
    for (const Request& r : REQUESTS) {
        const unsigned writing = trait::FORMAT | trait::CREATES_IMAGE | trait::SAVES_DIRECTORY;
        if (r.option == 0 || (r.option & (r.option - 1)) != 0 || r.option == OPT_NEW_IMAGE) return false;
        if (r.has(writing) && !r.has(trait::WRITES_IMAGE)) return false;
        if (r.argumentWhenLast != nullptr && r.argument == FileArgument::None) return false;
        for (const Request& other : REQUESTS)
            if (&other != &r && (other.letter == r.letter || (other.option & r.option) != 0)) return false;
    }
    return true;
}
static_assert(requestsAgree(), "a request's traits contradict each other, or two share a switch or bit");

// The request of a switch's letter, or null.
constexpr const Request* findRequest(char letter) {
    for (const Request& r : REQUESTS)
        if (r.letter == letter) return &r;
    return nullptr;
}

// The option bits of every request for which test(request) holds.
template <typename Test>
constexpr OptionFlags optionsWhere(Test test) {
    OptionFlags options = 0;
    for (const Request& r : REQUESTS)
        if (test(r)) options |= r.option;
    return options;
}
constexpr OptionFlags optionsWith(unsigned trait) {
    return optionsWhere([trait](const Request& r) { return r.has(trait); });
}

}  // namespace z18
