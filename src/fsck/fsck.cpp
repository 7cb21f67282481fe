#include "fsck/fsck.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "fsck/plan.h"
#include "fsck/texts.h"
#include "session/status.h"

namespace z18::fsck {

namespace {

struct Options {
    std::string image, salvageDir, repairPath;
    bool help = false;
    bool version = false;
};

bool parseArguments(int argc, const char* const* argv, Options* o) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "-h" || arg == "--help")) {
            o->help = true;
        } else if (!optionsEnd && arg == "--version") {
            o->version = true;
        } else if (!optionsEnd && (arg == "-x" || arg == "-o")) {
            std::string& target = arg == "-x" ? o->salvageDir : o->repairPath;
            if (i + 1 >= argc || !target.empty() || argv[i + 1][0] == '\0') return false;
            target = argv[++i];
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return false;
        } else {
            if (!o->image.empty() || arg.empty()) return false;
            o->image = arg;
        }
    }
    return o->help || o->version || !o->image.empty();
}

// Names and paths come from images and host folders: shown with their control bytes escaped.
std::string shown(const std::string& text) {
    std::ostringstream out;
    out << z18::visible(text);
    return out.str();
}

std::string quoted(const std::string& text) { return "'" + shown(text) + "'"; }

int fail(Session& s, const char* text, const std::string& path) {
    s.out << "z18fsck: " << text << quoted(path) << '\n' << std::flush;
    return EXIT_FAILED;
}

std::size_t problemCount(const Plan& plan) {
    return static_cast<std::size_t>(std::count_if(plan.problems.begin(), plan.problems.end(),
                                                  [](const Problem& p) { return !p.info(); }));
}

std::string summary(const Options& o, const Plan& plan) {
    std::ostringstream line;
    line << shown(o.image) << ": " << plan.files.size() << texts::SUMMARY_FILES << plan.usedEntries
         << texts::SUMMARY_ENTRIES << plan.usedBlocks << texts::SUMMARY_USED
         << (BLOCK_COUNT - 1 - plan.usedBlocks) << texts::SUMMARY_FREE << problemCount(plan)
         << texts::SUMMARY_PROBLEMS;
    return line.str();
}

// ---- salvage --------------------------------------------------------------------------------

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string folded(std::string text) {
    for (char& c : text) c = lower(c);
    return text;
}

bool reservedOnWindows(const std::string& name) {
    std::string base = folded(name.substr(0, name.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
    for (const char* d : kDevices)
        if (base == d) return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// The host name of a salvaged file: its name as the image shows it, with every byte that some
// host cannot hold in a name (control bytes, bytes from 0x80 up, spaces and < > : " / \ | ? *)
// turned into "_"; "_" in front of a name that Windows keeps for a device or that is empty, "."
// or ".."; "uN-" in front for user area N other than 0; and, where the name is taken already
// (compared without regard to case), "~1", "~2"... before its type.
std::string hostName(const File& f, std::set<std::string>* taken) {
    std::string name = f.hostBase;
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr) c = '_';
    }
    if (name.empty() || name == "." || name == ".." || reservedOnWindows(name)) name = "_" + name;
    if (f.area != 0) name = "u" + std::to_string(f.area) + "-" + name;
    std::string candidate = name;
    for (int n = 1; taken->count(folded(candidate)) != 0; ++n) {
        const std::size_t dot = name.rfind('.');
        const std::size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
        candidate = name.substr(0, at) + "~" + std::to_string(n) + name.substr(at);
    }
    taken->insert(folded(candidate));
    return candidate;
}

// Holes are written in pieces of 64 KiB: a file CP/M wrote by random access may reach 8 MB.
constexpr int HOLE_RECORDS = 512;

bool writeAll(Session& s, int handle, std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
    std::size_t done = 0;
    return s.env.writeAt(handle, at, bytes, n, &done) && done == n;
}

// The report file holds what the check printed, then the line of each file.
int salvage(Session& s, const Options& o, const Plan& plan, const std::string& check) {
    std::set<std::string> taken = {folded(texts::REPORT_NAME)};
    std::ostringstream report;
    report << check;
    int written = 0;
    for (const File& f : plan.files) {
        const std::string host = hostName(f, &taken);
        const std::string path = o.salvageDir + "/" + host;
        const int handle = s.env.createNewFile(path);
        if (handle == CLOSED_HANDLE) return fail(s, texts::FILE_CANNOT_WRITE, path);
        std::uint64_t size = 0;
        bool ok = true;
        static const std::uint8_t kZeros[HOLE_RECORDS * RECORD_SIZE] = {};
        // Every record at its place, a run of records from one block in one write, and a hole
        // in writes of zeros.
        for (int r = 0; r < f.length && ok;) {
            int n = 0;
            const int b = f.blockAt(r, &n);
            for (int done = 0; done < n && ok;) {
                const int part = std::min(b > 0 ? n : HOLE_RECORDS, n - done);
                const std::uint8_t* from =
                    b > 0 ? plan.disk.bytes.data() + blockOffset(static_cast<unsigned>(b)) +
                                static_cast<std::size_t>(r % RECORDS_PER_BLOCK) * RECORD_SIZE
                          : kZeros;
                ok = writeAll(s, handle, static_cast<std::uint64_t>(r + done) * RECORD_SIZE, from,
                              static_cast<std::size_t>(part) * RECORD_SIZE);
                done += part;
            }
            r += n;
        }
        size = static_cast<std::uint64_t>(f.length) * RECORD_SIZE;
        s.env.closeFile(handle);
        if (!ok) return fail(s, texts::FILE_CANNOT_WRITE, path);
        ++written;

        std::ostringstream line;
        line << quoted(f.imageName) << texts::ARROW << shown(host) << ", " << size << texts::BYTES;
        if (f.troubles.empty()) {
            line << texts::CLEAN;
        } else {
            line << texts::TROUBLES;
            for (std::size_t k = 0; k < f.troubles.size(); ++k)
                line << (k ? "; " : "") << shown(f.troubles[k]);
        }
        line << '\n';
        s.out << line.str();
        report << line.str();
    }
    report << summary(o, plan);

    const std::string reportPath = o.salvageDir + "/" + texts::REPORT_NAME;
    const std::string text = report.str();
    const int handle = s.env.createNewFile(reportPath);
    if (handle == CLOSED_HANDLE) return fail(s, texts::REPORT_CANNOT_WRITE, reportPath);
    const bool ok = writeAll(s, handle, 0, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    s.env.closeFile(handle);
    if (!ok) return fail(s, texts::REPORT_CANNOT_WRITE, reportPath);
    s.out << texts::SALVAGED_1 << written << texts::SALVAGED_2 << quoted(o.salvageDir) << texts::SALVAGED_3
          << texts::REPORT_NAME << '\n';
    return EXIT_CLEAN;
}

// ---- repair ---------------------------------------------------------------------------------

// The repaired image is made under a name of its own and given its real name only when all of it
// is on the disk: a run cut short never leaves a half-made image under the name asked for.
int repair(Session& s, const Options& o, const Plan& plan) {
    const std::string part = o.repairPath + texts::PART_SUFFIX;
    if (s.env.pathExists(o.repairPath)) return fail(s, texts::NEW_EXISTS, o.repairPath);
    const int handle = s.env.createNewFile(part);
    if (handle == CLOSED_HANDLE) return fail(s, texts::NEW_CANNOT_MAKE, part);

    std::vector<std::uint8_t> image = plan.disk.bytes;
    for (int b : plan.zeroBlocks)
        std::memset(image.data() + blockOffset(static_cast<unsigned>(b)), 0, BLOCK_SIZE);
    // The data first, under an empty directory; the directory that names it only once the data
    // is on the disk.
    std::memset(image.data() + DIRECTORY_OFFSET, FILLER_BYTE, DIRECTORY_SIZE);
    bool ok = writeAll(s, handle, 0, image.data(), image.size()) && s.env.flush(handle) &&
              writeAll(s, handle, DIRECTORY_OFFSET, plan.directory, DIRECTORY_SIZE) && s.env.flush(handle);
    s.env.closeFile(handle);
    if (!ok) {
        s.env.removeFile(part);
        return fail(s, texts::NEW_CANNOT_WRITE, part);
    }
    if (!s.env.renameNoReplace(part, o.repairPath)) return fail(s, texts::NEW_CANNOT_NAME, part);
    s.out << texts::REPAIRED_1 << quoted(o.repairPath) << texts::REPAIRED_2 << problemCount(plan)
          << texts::REPAIRED_3;
    return EXIT_CLEAN;
}

// A salvage folder is made new, or taken when it is empty.
bool prepareFolder(Session& s, const std::string& dir) {
    return s.env.createDirectory(dir) || s.env.countDirectoryEntries(dir) == 0;
}

}  // namespace

int runFsck(Session& s, int argc, const char* const* argv) {
    Options o;
    if (!parseArguments(argc, argv, &o)) {
        s.out << texts::USAGE << std::flush;
        return EXIT_FAILED;
    }
    if (o.help || o.version) {
        s.out << (o.help ? texts::USAGE : texts::VERSION) << std::flush;
        return EXIT_CLEAN;
    }

    s.imageHandle = s.env.openFile(o.image, OpenMode::ImageRead);
    if (s.imageHandle == CLOSED_HANDLE) return fail(s, texts::CANNOT_OPEN, o.image);
    Plan plan;
    const bool read = readDisk(s, s.imageHandle, &plan.disk);
    s.env.closeFile(s.imageHandle);
    s.imageHandle = CLOSED_HANDLE;
    if (!read) return fail(s, texts::CANNOT_READ, o.image);

    // Whatever the run is to make must be free before anything is made.
    if (!o.repairPath.empty() && s.env.pathExists(o.repairPath))
        return fail(s, texts::NEW_EXISTS, o.repairPath);
    if (!o.salvageDir.empty() && !prepareFolder(s, o.salvageDir))
        return fail(s, s.env.pathExists(o.salvageDir) ? texts::DIR_NOT_EMPTY : texts::DIR_CANNOT_MAKE,
                    o.salvageDir);

    makePlan(s, &plan);
    std::ostringstream check;
    check << texts::CHECKING << quoted(o.image) << '\n';
    for (const Problem& p : plan.problems) check << shown(problemLine(p)) << '\n';
    s.out << check.str();

    int status = EXIT_CLEAN;
    if (!o.salvageDir.empty()) status = salvage(s, o, plan, check.str());
    if (status == EXIT_CLEAN && !o.repairPath.empty()) status = repair(s, o, plan);
    s.out << summary(o, plan) << std::flush;
    if (status != EXIT_CLEAN) return status;
    return problemCount(plan) == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

}  // namespace z18::fsck
