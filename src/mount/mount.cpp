#include "mount/mount.h"

#include "image/directory.h"
#include "image/image_file.h"
#include "mount/texts.h"
#include "mount/volume.h"
#include "session/status.h"

namespace z18 {

namespace {

// One option of a -o list: those the mount acts on itself, or one passed on to FUSE.
void takeOption(const std::string& option, MountLine* line) {
    if (option == "ro")
        line->readOnly = true;
    else if (option == "rw")
        line->readOnly = false;
    else if (option == "debug")
        line->debug = true;
    else if (!option.empty())
        line->options.push_back(option);
}

void takeOptions(const std::string& list, MountLine* line) {
    std::size_t start = 0;
    for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        takeOption(list.substr(start, comma - start), line);
    takeOption(list.substr(start), line);
}

// The image, with its directory, opened as the folder needs it: read-write unless asked for
// read-only, or read-only with a note where the image is write-protected. False after the
// refusal was written to the session's stream.
bool openForFolder(Session& s, bool* readOnly) {
    const std::string path = s.imageDir + s.imageName;
    HostResult<int> opened = s.env.openFile(path, *readOnly ? OpenMode::ImageRead : OpenMode::ImageWrite);
    if (!opened.ok() && !*readOnly && opened.status().error().kind == HostErrorKind::Denied) {
        // As mount does with write-protected media: the folder is still worth having to read.
        opened = s.env.openFile(path, OpenMode::ImageRead);
        if (opened.ok()) {
            *readOnly = true;
            s.out << texts::MOUNT_PROGRAM << texts::WRITE_PROTECTED_1 << visible(s.imageName)
                  << texts::WRITE_PROTECTED_2 << std::flush;
        }
    }
    s.imageHandle = opened.valueOr(CLOSED_HANDLE);
    if (s.imageHandle == CLOSED_HANDLE) {
        reportStatus(s, ST_IMAGE_OPEN);
        s.out << texts::MOUNT_PROGRAM << errorText(opened.status().error()) << '\n' << std::flush;
        return false;
    }
    bool damaged = s.env.fileSize(s.imageHandle).valueOr(0) != IMAGE_SIZE;
    if (damaged) {
        reportStatus(s, ST_IMAGE_BAD_SIZE);
    } else {
        if (!readImageAt(s, DIRECTORY_OFFSET, s.directory, DIRECTORY_SIZE)) return false;
        damaged = !mapDirectory(s);
    }
    if (damaged) {
        // z18fsck reads what z18man refuses, and can write a copy that z18man takes.
        s.out << texts::MOUNT_PROGRAM << texts::FSCK_POINTER_1 << visible(path) << texts::FSCK_POINTER_2
              << visible(path) << texts::FSCK_POINTER_3 << std::flush;
        return false;
    }
    return true;
}

}  // namespace

std::string parseMountLine(int argc, const char* const* argv, MountLine* line) {
    bool optionsEnd = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "-h" || arg == "--help") {
            line->help = true;
        } else if (arg == "-V" || arg == "--version") {
            line->version = true;
        } else if (arg == "-f") {
            line->foreground = true;
        } else if (arg == "-d") {
            line->debug = true;
        } else if (arg == "-s") {
            // Asks other FUSE programs for one request at a time, which is all this one does.
        } else if (arg.compare(0, 2, "-o") == 0) {
            if (arg.size() == 2 && (i + 1 >= argc || argv[i + 1][0] == '\0')) return texts::MOUNT_NEEDS_VALUE;
            takeOptions(arg.size() > 2 ? arg.substr(2) : argv[++i], line);
        } else {
            return texts::MOUNT_UNKNOWN_OPTION + arg;
        }
    }
    if (line->help || line->version) return std::string();
    if (words.size() < 2 || words[0].empty() || words[1].empty()) return texts::MOUNT_NEEDS_WORDS;
    if (words.size() > 2) return texts::MOUNT_EXTRA_WORD + words[2];
    line->image = words[0];
    line->mountPoint = words[1];
    return std::string();
}

int runMount(Session& s, std::ostream& out, int argc, const char* const* argv, FolderOwner owner,
             ServeFunction serve) {
    MountLine line;
    const std::string fault = parseMountLine(argc, argv, &line);
    if (!fault.empty()) {
        s.out << texts::MOUNT_PROGRAM << visible(fault) << '\n' << texts::MOUNT_USAGE << std::flush;
        return 1;
    }
    if (line.help || line.version) {
        out << (line.help ? texts::MOUNT_USAGE : texts::MOUNT_VERSION) << std::flush;
        return 0;
    }

    // A folder over files would hide them for as long as it is mounted.
    const HostResult<int> inMountPoint = s.env.countDirectoryEntries(line.mountPoint);
    if (inMountPoint.valueOr(-1) != 0) {
        s.out << texts::MOUNT_PROGRAM << texts::MOUNT_POINT_1 << visible(line.mountPoint)
              << texts::MOUNT_POINT_2
              << (inMountPoint.ok() ? texts::MOUNT_POINT_NOT_EMPTY : errorText(inMountPoint.status().error()))
              << '\n'
              << std::flush;
        return 1;
    }
    nameImage(s, line.image);
    if (!openForFolder(s, &line.readOnly)) {
        closeImage(s);
        return 1;
    }

    Volume volume(s, line.readOnly, owner);
    ServeRequest request;
    request.program = "z18mount";
    request.source = s.imageDir + s.imageName;
    request.mountPoint = line.mountPoint;
    request.options = line.options;
    if (line.readOnly) request.options.insert(request.options.begin(), "ro");
    request.foreground = line.foreground || line.debug;
    request.debug = line.debug;
    const int status = serve(volume, request);
    closeImage(s);
    return status;
}

}  // namespace z18
