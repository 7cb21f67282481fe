// The fixed texts of a run: the banner, the syntax help and the driver's own line for a quick
// format. Users' scripts match these, spelling included.
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

constexpr const char* USAGE_HEAD = "Syntax:\n";
// One line a form of the command line, each after two spaces and the program's name.
constexpr const char* USAGE_FORMS[] = {
    " imagefile[.z18] /c [ cpm_name ]\n",
    " imagefile[.z18] [ /f | /q ] [ /a [path\\]cpm_name ]\n",
    " imagefile[.z18] /e cpm_name\n",
    " imagefile[.z18] /x [path\\]cpm_name\n",
};
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

constexpr const char* QUICK_FORMAT_DONE_1 = "Directory of image '";
constexpr const char* QUICK_FORMAT_DONE_2 = "' was cleaned.\n";

}  // namespace z18::texts
