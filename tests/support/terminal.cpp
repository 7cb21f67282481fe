#include "support/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace z18test {

Terminal::Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return;
    device_ = name;
    // Held open to read the terminal's modes, and so that the master sees no hang-up between runs.
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
}

Terminal::~Terminal() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

Launch Terminal::launch(const std::string& cwd) const {
    Launch how;
    how.cwd = cwd;
    how.terminal = device_;
    how.in = Stream{Stream::Terminal};
    how.out = Stream{Stream::Terminal};
    how.err = Stream{Stream::Null};
    return how;
}

tcflag_t Terminal::localModes() const {
    struct termios t {};
    ::tcgetattr(slave_, &t);
    return t.c_lflag;
}

bool Terminal::waitForKeyMode(int ms) const {
    for (int waited = 0; waited < ms; waited += 10) {
        if ((localModes() & ICANON) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void Terminal::send(const std::string& keys) const {
    EXPECT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

void Terminal::drain(int ms) {
    struct pollfd p {
        master_, POLLIN, 0
    };
    while (::poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        output.append(buf, static_cast<std::size_t>(n));
        ms = 0;
    }
}

bool Terminal::waitFor(const std::string& want, int times, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (count(want) < times && std::chrono::steady_clock::now() < end) {
        drain(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a hung-up terminal polls at once
    }
    return count(want) >= times;
}

int Terminal::count(const std::string& part) const {
    int n = 0;
    for (std::size_t at = output.find(part); at != std::string::npos; at = output.find(part, at + 1)) ++n;
    return n;
}

int Terminal::finish(Child& child, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int status;
    do {
        drain(0);
        status = child.waitFor(20);
    } while (status < 0 && std::chrono::steady_clock::now() < end);
    drain(100);
    return status;
}

}  // namespace z18test
