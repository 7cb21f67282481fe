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

// The request a word of the command line chooses, or null: "/" and a letter, nothing else.
const Request* requestOfWord(const std::string& word) {
    return word.size() == 2 && word[0] == '/' ? findRequest(word[1]) : nullptr;
}

bool several(OptionFlags bits) { return (bits & (bits - 1)) != 0; }

// At most one format and one command, and a format only with a command that allows one.
bool combinationValid(OptionFlags o) {
    const OptionFlags formats = o & optionsWith(trait::FORMAT);
    const OptionFlags commands = o & ~formats;
    if (o == 0 || several(formats) || several(commands)) return false;
    return !formats || !commands || (commands & optionsWith(trait::AFTER_FORMAT)) != 0;
}

}  // namespace

int parseCommandLine(Session& s, int argc, const char* const* argv) {
    if (argc < 2) return 0;
    s.hostDir.clear();
    s.currentName.clear();
    s.mask.clear();
    s.options = 0;

    nameImage(s, argv[1]);

    // Which options' file argument may name a host directory.
    constexpr OptionFlags withPath =
        optionsWhere([](const Request& r) { return r.argument == FileArgument::Path; });
    const Request* waiting = nullptr;  // the switch whose file argument is the next word
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (waiting != nullptr) {
            splitPath(s.hostDir, s.mask, arg);
            if (!(s.options & withPath) && !s.hostDir.empty()) return 0;
            waiting = nullptr;
            continue;
        }
        const Request* request = requestOfWord(arg);
        if (request == nullptr) return 0;
        s.options |= request->option;
        if (request->argument != FileArgument::None) waiting = request;
    }

    if (waiting != nullptr && waiting->argumentWhenLast == nullptr) return 0;
    if (!combinationValid(s.options)) return 0;
    if (waiting != nullptr) s.mask = waiting->argumentWhenLast;
    if (s.options == OPT_FULL_FORMAT) s.options |= OPT_NEW_IMAGE;
    return 1;
}

void printUsage(Session& s) {
    const Visible p = visible(s.programName);
    s.out << texts::USAGE_HEAD;
    for (const char* form : texts::USAGE_FORMS) s.out << "  " << p << form;
    s.out << texts::USAGE_OPTIONS;
}

}  // namespace z18
