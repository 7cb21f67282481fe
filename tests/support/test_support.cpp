#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "image/geometry.h"
#include "session/driver.h"
#include "session/texts.h"

namespace z18test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "z18test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission on anything a test protected, so the tree can go.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); ++it)
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::string& text) {
    writeFile(path, Bytes(text.begin(), text.end()));
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen() >> 24);
    return bytes;
}

Bytes blankImage() { return Bytes(z18::IMAGE_SIZE, z18::FILLER_BYTE); }

void putEntry(Bytes& image, int index, std::uint8_t user, const std::string& name11, std::uint8_t extent,
              std::uint8_t recordCount, std::initializer_list<std::uint8_t> blocks) {
    std::uint8_t* e = image.data() + z18::DIRECTORY_OFFSET + static_cast<std::size_t>(index) * z18::ENTRY_SIZE;
    std::memset(e, 0, z18::ENTRY_SIZE);
    e[0] = user;
    for (std::size_t i = 0; i < 11; ++i) e[1 + i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    e[12] = extent;
    e[15] = recordCount;
    std::size_t slot = 0;
    for (std::uint8_t b : blocks) e[16 + slot++] = b;
}

InProcess::InProcess() : env(z18::defaultEnv()), session(env, out) {}

int InProcess::run(std::initializer_list<std::string> args) { return run(std::vector<std::string>(args)); }

int InProcess::run(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"z18man"};
    for (const auto& a : args) argv.push_back(a.c_str());
    status = z18::runSession(session, static_cast<int>(argv.size()), argv.data());
    return status;
}

std::string bannerText() {
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    z18::printBanner(s);
    return out.str();
}

std::string exeBannerText() {
    return std::string(z18::texts::BANNER_NAME) +
           (windowsExe() ? z18::texts::BANNER_VERSION_WINDOWS : z18::texts::BANNER_VERSION_POSIX);
}

std::string usageText(const std::string& p) {
    return "Syntax:\n"
           "  " + p + " imagefile[.z18] /c [ cpm_name ]\n"
           "  " + p + " imagefile[.z18] [ /f | /q ] [ /a [path\\]cpm_name ]\n"
           "  " + p + " imagefile[.z18] /e cpm_name\n"
           "  " + p + " imagefile[.z18] /x [path\\]cpm_name\n"
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
}

std::string exePath() {
    const char* chosen = std::getenv("Z18MAN_EXE");
    return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : std::string(Z18MAN_EXE);
}

bool windowsExe() {
    std::string exe = exePath();
    if (exe.size() < 4) return false;
    std::string tail = exe.substr(exe.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".exe";
}

std::vector<std::string> exeCommand(const std::vector<std::string>& args) {
    std::vector<std::string> command;
    const char* wrapper = std::getenv("Z18MAN_WRAPPER");
    if (wrapper != nullptr && *wrapper != '\0') command.emplace_back(wrapper);
    command.push_back(exePath());
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

bool hostOrderBefore(const std::string& a, const std::string& b) {
    if (!windowsExe()) return a < b;
    auto upper = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return s;
    };
    return upper(a) < upper(b);
}

namespace {
// Text mode wrote every "\n" as "\r\n"; undoing exactly that keeps a "\r" the tool wrote itself.
std::string fromTextMode(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return out;
}
}  // namespace

ExeResult runExe(const std::vector<std::string>& args, const std::string& cwd) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        if (::chdir(cwd.c_str()) != 0) ::_exit(127);
        std::vector<std::string> command = exeCommand(args);
        std::vector<char*> argv;
        for (auto& a : command) argv.push_back(a.data());
        argv.push_back(nullptr);
        // A wrapper is looked up on PATH; the executable itself is run by its path.
        if (command.size() > args.size() + 1)
            ::execvp(argv[0], argv.data());
        else
            ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ExeResult result;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) result.out.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (windowsExe()) result.out = fromTextMode(result.out);
    return result;
}

}  // namespace z18test
