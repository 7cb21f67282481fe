// A pseudo-terminal for the tests that run the executable as on a console: the child gets it as
// controlling terminal (Launch::terminal = device()), the test types keys and reads what it shows.
#pragma once

#include <termios.h>

#include <string>

#include "support/process.h"

namespace z18test {

class Terminal {
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool ok() const { return slave_ >= 0; }
    const std::string& device() const { return device_; }
    // A start on this terminal: standard input and output on it, standard error discarded.
    Launch launch(const std::string& cwd) const;

    // The terminal's local modes (ICANON, ECHO...), read through the side held open here.
    tcflag_t localModes() const;
    // Waits until the terminal reads keys one by one (ICANON off), as a pause sets it.
    bool waitForKeyMode(int ms) const;
    void send(const std::string& keys) const;

    // Reads what has arrived into output, waiting at most ms for the first byte.
    void drain(int ms);
    // Reads until output holds want `times` times, or the time is up.
    bool waitFor(const std::string& want, int times, int ms);
    int count(const std::string& part) const;
    // Waits up to ms for the child's end, reading its output meanwhile; its status, or -1.
    int finish(Child& child, int ms);

    std::string output;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
};

}  // namespace z18test
