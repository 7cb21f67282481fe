#include "run/driver.h"

#include "commands/commands.h"
#include "image/cpm_name.h"
#include "image/directory.h"
#include "image/image_file.h"
#include "run/command_line.h"
#include "run/texts.h"
#include "session/status.h"

namespace z18 {

namespace {

// The program's name is its file name without directory and extension.
std::string programNameOf(const std::string& path) {
    std::string dir, name;
    splitPath(dir, name, path);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

// A format with no command to follow: no mask to check, and the format is flushed at once.
bool formatAlone(OptionFlags o) {
    constexpr OptionFlags commands = optionsWhere([](const Request& r) { return !r.has(trait::FORMAT); });
    return (o & optionsWith(trait::FORMAT)) && !(o & commands);
}

}  // namespace

void printBanner(Session& s) { s.out << texts::BANNER_NAME << texts::BANNER_VERSION; }

int initFramework(Session& s, const char* argv0) {
    // There is no application framework on this host; what remains of the step is naming the tool.
    std::string path = s.env.executablePath();
    if (path.empty() && argv0 != nullptr) path = argv0;
    s.programName = programNameOf(path);
    return 1;
}

int runSession(Session& s, int argc, const char* const* argv) {
    int exitStatus = 1;
    s.imageHandle = CLOSED_HANDLE;
    s.hostHandle = CLOSED_HANDLE;
    printBanner(s);

    // Kept by design, never taken here: no start-up step of these hosts can fail.
    if (!initFramework(s, argc > 0 ? argv[0] : nullptr)) {
        s.out << texts::FRAMEWORK_FAILED;
        newlineFlush(s);
        return exitStatus;
    }

    do {
        if (!parseCommandLine(s, argc, argv)) {
            printUsage(s);
            break;
        }
        if (!openImage(s, (s.options & optionsWith(trait::CREATES_IMAGE)) != 0)) break;
        if (s.options & (OPT_NEW_IMAGE | OPT_FULL_FORMAT)) {
            if (!writeBootArea(s)) break;
        }
        if (s.options & (OPT_FULL_FORMAT | OPT_QUICK_FORMAT)) {
            if (!clearDirectory(s)) break;
            // A format alone is done once it is on the disk; one followed by an add is settled by
            // the add's own ordering and the write-back.
            if (formatAlone(s.options) && !flushImage(s)) break;
            if (s.options & OPT_QUICK_FORMAT)
                s.out << texts::QUICK_FORMAT_DONE_1 << visible(s.imageName) << texts::QUICK_FORMAT_DONE_2;
        }
        if (!loadDirectory(s)) break;
        if (!formatAlone(s.options) && !makeCpmName(s, &s.maskName, s.mask)) {
            s.currentName = s.mask;
            reportStatus(s, ST_BAD_NAME);
            break;
        }

        for (const Request& r : REQUESTS) {
            if (!(s.options & r.option) || r.has(trait::FORMAT)) continue;
            commandOf(r.option)(s);
            // Whatever the command did before it stopped reaches the image.
            if (r.has(trait::SAVES_DIRECTORY)) saveDirectory(s);
            break;
        }
        exitStatus = 0;
    } while (false);

    // A run that stopped after writing (a format followed by a rejected mask, a new image whose
    // fill failed) still leaves nothing behind in the cache.
    flushImage(s);
    closeHostFile(s);
    closeImage(s);
    newlineFlush(s);
    return exitStatus;
}

}  // namespace z18
