// The fixed texts of z18mount. Refusals of an image use z18man's own status lines
// (session/texts.h), so that a script matches one text for both programs.
#pragma once

namespace z18::texts {

constexpr char MOUNT_USAGE[] =
    "Usage: z18mount [-f] [-d] [-o OPTION[,OPTION...]] IMAGE MOUNTPOINT\n"
    "Shows the files of IMAGE (\".z18\" is added where the name lacks it) in MOUNTPOINT, an empty\n"
    "folder: user area 0 in the folder itself, areas 1 to 15 in folders u1 to u15.\n"
    "  -f           stay in the foreground instead of detaching\n"
    "  -d           log every request on standard error (implies -f); also -o debug\n"
    "  -o ro        mount read-only (an image without a write permission bit always is)\n"
    "  -o OPTION    any other FUSE mount option, such as allow_other\n"
    "  -h, --help   show this help;  -V, --version  show the version\n"
    "Unmount with: fusermount3 -u MOUNTPOINT\n";
constexpr char MOUNT_VERSION[] = "z18mount v1.2\n";

constexpr char MOUNT_PROGRAM[] = "z18mount: ";
// Faults of the command line, shown before the usage.
constexpr char MOUNT_UNKNOWN_OPTION[] = "unknown option ";
constexpr char MOUNT_NEEDS_VALUE[] = "option -o needs a value";
constexpr char MOUNT_NEEDS_WORDS[] = "an image and a mount point are needed";
constexpr char MOUNT_EXTRA_WORD[] = "one image and one mount point only, not also ";

constexpr char MOUNT_POINT_1[] = "cannot mount on '";
constexpr char MOUNT_POINT_2[] = "': ";
constexpr char MOUNT_POINT_NOT_EMPTY[] = "the folder is not empty";
constexpr char WRITE_PROTECTED_1[] = "'";
constexpr char WRITE_PROTECTED_2[] = "' is write-protected: mounted read-only\n";
constexpr char FSCK_POINTER_1[] = "'z18fsck ";
constexpr char FSCK_POINTER_2[] = "' tells what is wrong with the image; 'z18fsck -o NEW.z18 ";
constexpr char FSCK_POINTER_3[] = "' writes a repaired copy\n";

}  // namespace z18::texts
