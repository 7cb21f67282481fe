// Every fixed text the session and the image store print. Users' scripts match these, spelling
// included.
#pragma once

namespace z18::texts {

constexpr const char* BANNER_NAME = "\nZ18 image manager utility";
constexpr const char* BANNER_VERSION_POSIX = "\nv1.2 (POSIX build, z18man project)\n\n";
constexpr const char* BANNER_VERSION_WINDOWS = "\nv1.2 (Windows build, z18man project)\n\n";
#ifdef _WIN32
constexpr const char* BANNER_VERSION = BANNER_VERSION_WINDOWS;
#else
constexpr const char* BANNER_VERSION = BANNER_VERSION_POSIX;
#endif
constexpr const char* FRAMEWORK_FAILED = "\nFatal Error: MFC initialization failed\n";
constexpr const char* IMAGE_EXTENSION = ".z18";

constexpr const char* USAGE_HEAD = "Syntax:\n";
constexpr const char* USAGE_CATALOGUE = " imagefile[.z18] /c [ cpm_name ]\n";
constexpr const char* USAGE_FORMAT = " imagefile[.z18] [ /f | /q ]";
constexpr const char* USAGE_FORMAT_ADD = " [ /a [path\\]cpm_name ]\n";
constexpr const char* USAGE_ERASE = " imagefile[.z18] /e cpm_name\n";
constexpr const char* USAGE_EXTRACT = " imagefile[.z18] /x [path\\]cpm_name\n";
constexpr const char* USAGE_OPTIONS =
    "    /c\tshow catalogue of the image\n"
    "    /f\tfull format of the image\n"
    "    /q\tquick format of the image\n"
    "    /a\tadd file(s) to the image (image will be created if not exist)\n"
    "    /e\terase file(s) from the image\n"
    "    /x\textract file(s) from the image\n"
    "    'imagefile' is name of the file of the image\n"
    "    'cpm_name' is the file name in CP/M 8.3 format\n"
    "\t       which can contain wildchars '*' or '?'\n"
    "\t       and can be with dir-path of the file(s) to add or extract\n";

// The status lines: the text before, the name the session has in hand, the text after. Indexed by
// -code - 1.
struct StatusText {
    const char* before;
    enum Name { NONE, IMAGE, CURRENT, ENTRY } name;
    const char* after;
};
constexpr StatusText STATUS_TEXTS[] = {
    {"Image '", StatusText::IMAGE, "' already exist"},
    {"Can't open image '", StatusText::IMAGE, "'"},
    {"Image '", StatusText::IMAGE, "' has bad size"},
    {"Error on read from the image '", StatusText::IMAGE, "'"},
    {"Error on write to the image '", StatusText::IMAGE, "'"},
    {"File '", StatusText::CURRENT, "' already exist"},
    {"Can't open file '", StatusText::CURRENT, "'"},
    {"Error on read from the file '", StatusText::CURRENT, "'"},
    {"Error on write to the file '", StatusText::CURRENT, "'"},
    {"Disk full", StatusText::NONE, ""},
    {"Directory full", StatusText::NONE, ""},
    {"File '", StatusText::CURRENT, "' already exist"},
    {"File '", StatusText::CURRENT, "' not found"},
    {"Name of tihs file '", StatusText::CURRENT, "' has incorrect format"},
    {"Corrupted directory entry '", StatusText::ENTRY, "'"},
};
constexpr const char* STATUS_TAIL = " !!!";

// The image store's format messages, and the driver's for a quick format.
constexpr const char* IMAGE_CREATED_1 = "Image '";
constexpr const char* IMAGE_CREATED_2 = "' was created.\n";
constexpr const char* IMAGE_FORMATTED_1 = "Image '";
constexpr const char* IMAGE_FORMATTED_2 = "' was formated.\n";
constexpr const char* QUICK_FORMAT_DONE_1 = "Directory of image '";
constexpr const char* QUICK_FORMAT_DONE_2 = "' was cleaned.\n";

}  // namespace z18::texts
