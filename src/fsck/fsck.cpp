#include "fsck/fsck.h"

#include <cstring>

#include "fsck/repair.h"
#include "fsck/report.h"
#include "fsck/salvage.h"
#include "fsck/texts.h"
#include "fsck/work.h"
#include "image/cpm_name.h"

namespace z18::fsck {

namespace {

constexpr std::uint64_t MAX_MAP_SIZE = 1 << 20;  // a map of a floppy is a few lines

bool isOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }
bool takesValue(const std::string& arg) { return arg == "-x" || arg == "-o" || arg == "-b"; }

// The words from `from` on that are no option and no option's value.
int wordsFrom(int argc, const char* const* argv, int from) {
    int words = 0;
    for (int i = from; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return words + argc - i - 1;
        if (takesValue(arg))
            ++i;
        else if (!isOption(arg))
            ++words;
    }
    return words;
}

// Fills o from the command line; the text of the first fault, or empty when there is none.
std::string parseArguments(Session& s, int argc, const char* const* argv, Options* o) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "-h" || arg == "--help")) {
            o->help = true;
        } else if (!optionsEnd && arg == "--version") {
            o->version = true;
        } else if (!optionsEnd && arg == "--json") {
            o->json = true;
        } else if (!optionsEnd && takesValue(arg)) {
            std::string& target = arg == "-x" ? o->salvageDir : arg == "-o" ? o->repairPath : o->mapPath;
            if (!target.empty()) return texts::TWICE_1 + arg + texts::TWICE_2;
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return texts::NEEDS_1 + arg + texts::NEEDS_2;
            target = argv[++i];
        } else if (!optionsEnd && arg == "-u") {
            o->undelete.wanted = true;
            // A mask follows where a word comes next and the image is given, or still to come.
            if (i + 1 < argc && !isOption(argv[i + 1]) &&
                (!o->image.empty() || wordsFrom(argc, argv, i + 2) > 0)) {
                const std::string mask = argv[++i];
                if (!makeCpmName(s, &o->undelete.mask, mask))
                    return texts::BAD_MASK_1 + mask + texts::BAD_MASK_2;
                o->undelete.all = false;
            }
        } else if (!optionsEnd && isOption(arg)) {
            return texts::UNKNOWN_OPTION + quoted(arg);
        } else {
            if (arg.empty()) return texts::EMPTY_IMAGE;
            if (!o->image.empty()) return texts::SECOND_IMAGE + quoted(arg);
            o->image = arg;
        }
    }
    if (o->help || o->version) return std::string();
    if (o->image.empty()) return texts::NO_IMAGE;
    // Alone, -u would report files brought back that nothing brings back.
    if (o->undelete.wanted && o->repairPath.empty()) return texts::UNDELETE_NEEDS_REPAIR;
    return std::string();
}

// The map's text, or false with the failure line.
bool readMap(Session& s, const std::string& path, BadSectorMap* map, std::string* failure) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!readAll(s, path, MAX_MAP_SIZE, &bytes, &why)) {
        *failure = failureLine(texts::MAP_CANNOT_READ, path, why);
        return false;
    }
    int line = 0;
    if (parseBadSectorMap(std::string(bytes.begin(), bytes.end()), map, &line)) return true;
    *failure = failureLine(texts::MAP_BAD_1, path, std::string()) + texts::MAP_BAD_2 + std::to_string(line);
    return false;
}

int failed(std::ostream& err, const std::string& line) {
    err << line << '\n' << std::flush;
    return EXIT_FAILED;
}

}  // namespace

int runFsck(Session& s, int argc, const char* const* argv) { return runFsck(s, s.out, argc, argv); }

int runFsck(Session& s, std::ostream& err, int argc, const char* const* argv) {
    Options o;
    const std::string usage = parseArguments(s, argc, argv, &o);
    if (!usage.empty()) {
        err << texts::PROGRAM << usage << '\n' << texts::USAGE << std::flush;
        return EXIT_FAILED;
    }
    if (o.help || o.version) {
        s.out << (o.help ? texts::USAGE : texts::VERSION) << std::flush;
        return EXIT_CLEAN;
    }

    Plan plan;
    BadSectorMap map;
    std::string failure;
    if (!o.mapPath.empty() && !readMap(s, o.mapPath, &map, &failure)) return failed(err, failure);
    {
        HostResult<HostFile> image = HostFile::open(s.env, o.image, OpenMode::ImageRead);
        if (!image.ok())
            return failed(err, failureLine(texts::CANNOT_OPEN, o.image, reasonOf(image.status())));
        const HostStatus read = readDisk(image.value(), map, &plan.disk);
        if (!read.ok()) return failed(err, failureLine(texts::CANNOT_READ, o.image, reasonOf(read)));
    }  // the image is closed before anything is made beside it

    // Whatever the run is to make must be free before any work is done.
    Salvage salvage;
    Repair repair;
    if (!o.repairPath.empty() && !prepareRepair(s, o, &repair)) return failed(err, repair.failure);
    if (!repair.note.empty()) err << repair.note << '\n';
    makePlan(o.undelete, &plan);
    if (!o.salvageDir.empty() && !prepareSalvage(s, o, plan, &salvage)) return failed(err, salvage.failure);

    const std::string check = checkText(o, plan);
    if (!o.json) s.out << check;
    int status = problemCount(plan) == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
    if (salvage.asked) {
        const bool done = runSalvage(s, o, plan, check, &salvage);
        if (!o.json) {
            for (std::size_t k = 0; k < plan.files.size(); ++k) s.out << fileLine(plan, k, salvage);
            if (done)
                s.out << texts::SALVAGED_1 << plan.files.size() << texts::SALVAGED_2 << quoted(o.salvageDir)
                      << texts::SALVAGED_3 << texts::REPORT_NAME << '\n';
        }
        if (!done) {
            s.out << std::flush;
            err << salvage.failure << '\n' << std::flush;
            status = EXIT_FAILED;
        }
    }
    if (!o.repairPath.empty() && status != EXIT_FAILED) {
        if (runRepair(s, o, plan, &repair)) {
            if (!o.json)
                s.out << texts::REPAIRED_1 << quoted(o.repairPath) << texts::REPAIRED_2
                      << problemCount(plan) + static_cast<std::size_t>(plan.restored) << texts::REPAIRED_3;
        } else {
            s.out << std::flush;
            err << repair.failure << '\n' << std::flush;
            status = EXIT_FAILED;
        }
    }
    s.out << (o.json ? jsonReport(o, plan, salvage, repair, status) : summaryLine(o, plan)) << std::flush;
    return status;
}

}  // namespace z18::fsck
