// The Win32 host: files through CreateFileA/ReadFile/WriteFile with share modes for exclusive
// access, the system's own directory search (its wildcard matching, its order, its 8.3 alternate
// names), and _getch for the catalogue pause.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <conio.h>

#include <algorithm>
#include <vector>

#include "host/env.h"

// The C runtime would otherwise expand "*" and "?" in the arguments against the current
// directory before main sees them, and a mask such as *.COM must reach the add command as typed.
extern "C" {
int _dowildcard = 0;
}

namespace z18 {

std::string hostPath(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string systemErrorText(int code) {
    // In English where the system has it, as every other text of the tools is; the user's
    // language would also come in a code page the console may not show.
    char text[512];
    DWORD n = 0;
    for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
        n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), language, text, sizeof text, nullptr);
        if (n != 0) break;
    }
    if (n == 0) return "Windows error " + std::to_string(static_cast<unsigned long>(code));
    // One line, without the full stop and the line end the system puts after its texts: the
    // caller ends the line.
    std::string line;
    for (DWORD i = 0; i < n; ++i) {
        const bool lineEnd = text[i] == '\r' || text[i] == '\n';
        if (!lineEnd)
            line += text[i];
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.')) line.pop_back();
    return line;
}

namespace {

HostErrorKind kindOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_NO_MORE_FILES: return HostErrorKind::NotFound;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return HostErrorKind::Exists;
        case ERROR_DIRECTORY: return HostErrorKind::NotAFolder;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return HostErrorKind::Denied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return HostErrorKind::InUse;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return HostErrorKind::NoSpace;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE: return HostErrorKind::Io;
        default: return HostErrorKind::Other;
    }
}

struct OpenPlan {
    DWORD access;
    DWORD share;
    DWORD disposition;
};

// Whatever writes holds the file alone; whatever only reads lets other readers in, so a
// catalogue or an extraction works beside another reader and on a read-only medium.
OpenPlan planFor(OpenMode mode) {
    switch (mode) {
        case OpenMode::ImageRead:
        case OpenMode::HostRead: return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING};
        case OpenMode::ImageWrite: return {GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING};
        case OpenMode::ImageCreate:
        case OpenMode::HostCreate: break;
    }
    // Never CREATE_ALWAYS: that would empty a file before it is known to be ours to write.
    return {GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS};
}

// The cause the system gives for the call that just failed.
HostError systemError() {
    const DWORD code = GetLastError();
    return {kindOf(code), static_cast<int>(code)};
}

// Only plain disk files: a device name (CON, NUL, COM1), a pipe or a directory is refused, and a
// file marked read-only is not written even where the system would let this process do it.
// Succeeds for a file the mode may use.
HostStatus refusalOf(HANDLE h, OpenMode mode) {
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return HostStatus(systemError());
    if (type != FILE_TYPE_DISK) return HostStatus(HostError{HostErrorKind::NotAFile, 0});
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return HostStatus(systemError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return HostStatus(HostError{HostErrorKind::NotAFile, 0});
    if (modeWrites(mode) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return HostStatus(HostError{HostErrorKind::Denied, ERROR_ACCESS_DENIED});
    return HostStatus();
}

bool isConsole(DWORD which) {
    DWORD consoleMode;
    return GetConsoleMode(GetStdHandle(which), &consoleMode) != 0;
}

// "." and "..", which a Windows search lists for any mask that matches them ("*" does).
bool isDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether the mask of a search pattern (its last part) begins with a dot.
bool asksForDots(const std::string& pattern) {
    const std::size_t part = pattern.find_last_of("\\/:");
    return pattern.compare(part == std::string::npos ? 0 : part + 1, 1, ".") == 0;
}

class WindowsEnv final : public Env {
public:
    HostResult<int> openFile(const std::string& text, OpenMode mode) override {
        const OpenPlan plan = planFor(mode);
        HANDLE h = CreateFileA(hostPath(text).c_str(), plan.access, plan.share, nullptr, plan.disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return failed();
        HostStatus status = refusalOf(h, mode);
        // Emptying comes only now, with the file held alone and known to be writable.
        if (status.ok() && mode == OpenMode::HostCreate)
            status = succeeded(SetFilePointer(h, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(h));
        if (!status.ok()) {
            // The cause stays the one above: closing a file nothing was written to cannot lose data.
            CloseHandle(h);
            return status;
        }
        return remember(h);
    }

    HostStatus closeFile(int handle) override {
        HANDLE h = lookup(handle);
        if (h == INVALID_HANDLE_VALUE) return HostStatus();
        handles_[static_cast<std::size_t>(handle)] = INVALID_HANDLE_VALUE;
        return succeeded(CloseHandle(h));
    }

    HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                      std::size_t* done) override {
        return transfer(handle, offset, buffer, n, done, false);
    }

    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override {
        return transfer(handle, offset, const_cast<void*>(buffer), n, done, true);
    }

    HostStatus flush(int handle) override {
        HANDLE h = lookup(handle);
        return h != INVALID_HANDLE_VALUE ? succeeded(FlushFileBuffers(h)) : badHandle();
    }

    HostResult<std::uint64_t> fileSize(int handle) override {
        HANDLE h = lookup(handle);
        if (h == INVALID_HANDLE_VALUE) return badHandle();
        DWORD high = 0;
        const DWORD low = GetFileSize(h, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return failed();
        return (static_cast<std::uint64_t>(high) << 32) | low;
    }

    HostResult<FileTime> modificationTime(int handle) override {
        HANDLE h = lookup(handle);
        if (h == INVALID_HANDLE_VALUE) return badHandle();
        FILETIME written;
        if (!GetFileTime(h, nullptr, nullptr, &written)) return failed();
        // Counted in 100-nanosecond steps from 1601, the start of the Gregorian cycle then current.
        constexpr std::uint64_t kStepsPerSecond = 10000000;
        constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
        const std::uint64_t steps =
            (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        return FileTime{static_cast<std::int64_t>(steps / kStepsPerSecond) - kSecondsFrom1601To1970,
                        static_cast<std::uint32_t>(steps % kStepsPerSecond * 100)};
    }

    HostResult<std::vector<FoundEntry>> findFiles(const std::string& pattern) override {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(hostPath(pattern).c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) return failed();
        // A folder's own "." and ".." answer only a mask that begins with a dot, as on the other
        // hosts: "*" must list the folder's contents and nothing else.
        const bool dots = asksForDots(pattern);
        std::vector<FoundEntry> found;
        do {
            if (!dots && isDotEntry(data.cFileName)) continue;
            FoundEntry entry;
            entry.attributes = data.dwFileAttributes;
            entry.name = data.cFileName;
            entry.alternateName = data.cAlternateFileName;
            found.push_back(std::move(entry));
        } while (FindNextFileA(search, &data));
        const HostStatus ended = endSearch(search);
        if (!ended.ok()) return ended;
        // A mask that only "." or ".." answered found nothing.
        if (found.empty()) return fail({HostErrorKind::NotFound, ERROR_FILE_NOT_FOUND});
        return found;
    }

    // A Windows console program cannot be stopped and resumed, so the prompt stays where it was.
    void waitKey(const char*) override {
        // Piped or redirected, nobody is there to press a key.
        if (!isConsole(STD_INPUT_HANDLE) || !isConsole(STD_OUTPUT_HANDLE)) return;
        const int key = _getch();
        // Function and cursor keys arrive as a prefix and a code; take both, so the second one
        // does not answer the next pause.
        if (key == 0 || key == 0xE0) {
            _getch();
        } else if (key == 3) {
            // Ctrl+C read as a key: end the run as the console's own Ctrl+C would.
            ExitProcess(STATUS_CONTROL_C_EXIT);
        }
    }

    std::string executablePath() override {
        std::vector<char> buffer(MAX_PATH);
        for (;;) {
            const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) return std::string();
            if (n < buffer.size()) return std::string(buffer.data(), n);
            buffer.resize(buffer.size() * 2);  // truncated: try again with more room
        }
    }

    HostStatus createDirectory(const std::string& text) override {
        return succeeded(CreateDirectoryA(hostPath(text).c_str(), nullptr));
    }

    HostResult<int> countDirectoryEntries(const std::string& text) override {
        const DWORD attributes = GetFileAttributesA(hostPath(text).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return failed();
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return fail({HostErrorKind::NotAFolder, ERROR_DIRECTORY});
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA((hostPath(text) + "\\*").c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) return 0;
            return failed();
        }
        int n = 0;
        do {
            if (!isDotEntry(data.cFileName)) ++n;
        } while (FindNextFileA(search, &data));
        const HostStatus ended = endSearch(search);
        if (!ended.ok()) return ended;
        return n;
    }

    HostResult<bool> pathExists(const std::string& text) override {
        if (GetFileAttributesA(hostPath(text).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
        return failed();
    }

    HostResult<int> createNewFile(const std::string& text) override {
        HANDLE h = CreateFileA(hostPath(text).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return failed();
        const HostStatus status = refusalOf(h, OpenMode::HostCreate);
        if (!status.ok()) {
            CloseHandle(h);  // empty and ours: nothing to lose, and the cause above is the one to keep
            return status;
        }
        return remember(h);
    }

    HostStatus renameNoReplace(const std::string& from, const std::string& to) override {
        // Without MOVEFILE_REPLACE_EXISTING the move fails where the new name is taken; with
        // MOVEFILE_WRITE_THROUGH it returns only once the move is on the disk.
        return succeeded(MoveFileExA(hostPath(from).c_str(), hostPath(to).c_str(), MOVEFILE_WRITE_THROUGH));
    }

    HostStatus removeFile(const std::string& text) override {
        return succeeded(DeleteFileA(hostPath(text).c_str()));
    }

private:
    static DWORD chunk(std::size_t left) {
        return static_cast<DWORD>(std::min<std::size_t>(left, 0x40000000u));
    }

    static HostStatus fail(HostError error) { return HostStatus(error); }
    // The cause the system gives for the call that just failed.
    static HostStatus failed() { return HostStatus(systemError()); }
    // The outcome of a call that reports failure through GetLastError.
    static HostStatus succeeded(BOOL done) { return done ? HostStatus() : failed(); }
    static HostStatus badHandle() { return fail({HostErrorKind::Other, ERROR_INVALID_HANDLE}); }

    // A search delivers entries until FindNextFileA says there are no more; any other end of it
    // is a failure, so that a listing cut short does not pass for the whole folder.
    static HostStatus endSearch(HANDLE search) {
        const DWORD code = GetLastError();
        const bool closed = FindClose(search) != 0;
        if (code != ERROR_NO_MORE_FILES) return fail({kindOf(code), static_cast<int>(code)});
        return succeeded(closed);
    }

    // An OVERLAPPED record on a handle opened for plain synchronous use names the offset of that
    // one transfer, which is Windows' way of saying pread and pwrite.
    HostStatus transfer(int handle, std::uint64_t offset, void* buffer, std::size_t n, std::size_t* done,
                        bool isWrite) {
        *done = 0;
        HANDLE h = lookup(handle);
        if (h == INVALID_HANDLE_VALUE) return badHandle();
        char* p = static_cast<char*>(buffer);
        while (*done < n) {
            const std::uint64_t at = offset + *done;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD moved = 0;
            const BOOL ok = isWrite ? WriteFile(h, p + *done, chunk(n - *done), &moved, &where)
                                    : ReadFile(h, p + *done, chunk(n - *done), &moved, &where);
            if (!ok) {
                if (!isWrite && GetLastError() == ERROR_HANDLE_EOF) break;  // reading past the end
                return failed();
            }
            if (moved == 0) break;  // end of file, or a device that takes no more
            *done += moved;
        }
        return HostStatus();
    }

    // Handles are kept in a table so the layers above see small integers, as on every host.
    int remember(HANDLE h) {
        for (std::size_t i = 0; i < handles_.size(); ++i) {
            if (handles_[i] == INVALID_HANDLE_VALUE) {
                handles_[i] = h;
                return static_cast<int>(i);
            }
        }
        handles_.push_back(h);
        return static_cast<int>(handles_.size() - 1);
    }

    HANDLE lookup(int handle) const {
        if (handle < 0 || static_cast<std::size_t>(handle) >= handles_.size()) return INVALID_HANDLE_VALUE;
        return handles_[static_cast<std::size_t>(handle)];
    }

    std::vector<HANDLE> handles_;
};

}  // namespace

Env* defaultEnv() {
    static WindowsEnv env;
    return &env;
}

}  // namespace z18
