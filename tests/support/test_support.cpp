#include "support/test_support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "run/command_line.h"
#include "run/driver.h"
#include "run/texts.h"

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
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
         ++it)
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

ExeResult jsonFields(const std::string& document) {
    static const char* const FLATTEN =
        "import json, sys\n"
        "def walk(path, v):\n"
        "    if isinstance(v, dict):\n"
        "        for k, x in v.items(): walk(path + [k], x)\n"
        "    elif isinstance(v, list):\n"
        "        for i, x in enumerate(v): walk(path + [str(i)], x)\n"
        "    else:\n"
        "        text = v if isinstance(v, str) else json.dumps(v)\n"
        "        sys.stdout.buffer.write(('.'.join(path) + '=' + text + '\\n').encode('utf-8', "
        "'surrogatepass'))\n"
        "walk([], json.loads(sys.stdin.buffer.read()))\n";
    TempDir dir;
    writeFile(dir / "document.json", document);
    Launch how;
    how.in = Stream::file(dir / "document.json");
    how.err = Stream(Stream::Output);
    return runProgram({"python3", "-c", FLATTEN}, how);
}

Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen() >> 24);
    return bytes;
}

InProcess::InProcess(z18::Env* host) : env(host), session(env, out) {}

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
    std::ostringstream out;
    z18::Session s(*z18::defaultEnv(), out);
    s.programName = p;
    z18::printUsage(s);
    return out.str();
}

std::string afterBanner(const std::string& out) {
    // An in-process session prints this build's banner, the executable under test its own.
    for (const std::string& banner : {bannerText(), exeBannerText()}) {
        if (out.compare(0, banner.size(), banner) == 0) return out.substr(banner.size());
    }
    return out;
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

}  // namespace z18test
