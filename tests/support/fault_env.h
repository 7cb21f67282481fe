// A host that makes a chosen operation fail or fall short, so that every error path of the tool
// can be driven from a test.
#pragma once

#include <map>
#include <string>

#include "support/env_wrapper.h"

namespace z18 {

class FaultEnv : public EnvWrapper {
public:
    // Open counts the opens of existing files and the making of new ones; MakeFolder the making
    // of folders.
    enum class Op { Open, Read, Write, Flush, MakeFolder };
    enum class Kind { Fail, Short };  // a flush cannot fall short: Short fails it too

    explicit FaultEnv(Env* base) : EnvWrapper(base) {}

    // Makes the nth call (1-based) of op fail or move one byte fewer than asked. With a path
    // suffix, only calls on files whose path ends in it are counted.
    void inject(Op op, int nth, Kind kind, const std::string& pathSuffix = std::string());
    // Calls of op counted so far (on the injected path, when one was given).
    int calls(Op op) const;

    // The console wait is only counted: a test never waits for a key.
    int keyWaits() const { return keyWaits_; }

    HostResult<int> openFile(const std::string& path, OpenMode mode) override;
    HostResult<int> createNewFile(const std::string& path) override;
    HostStatus closeFile(int handle) override;
    HostStatus readAt(int handle, std::uint64_t offset, void* buffer, std::size_t n,
                      std::size_t* done) override;
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override;
    HostStatus flush(int handle) override;
    HostStatus createDirectory(const std::string& path) override;
    void waitKey(const char*) override { ++keyWaits_; }
    std::string executablePath() override { return executablePath_; }
    void setExecutablePath(const std::string& path) { executablePath_ = path; }

private:
    struct Plan {
        bool planned = false;
        int nth = 0;
        Kind kind = Kind::Fail;
        std::string suffix;
        int count = 0;
    };
    // Whether this call is the one to fail; its kind in *kind where asked.
    bool due(Op op, int handle, Kind* kind = nullptr);
    // Whether a transfer of *n bytes goes on to the base host: false when it is to fail (with
    // *done 0); a short one goes on with *n one less.
    bool passOn(Op op, int handle, std::size_t* n, std::size_t* done);
    bool due(Op op, const std::string& path, Kind* kind = nullptr);
    // Keeps the path of a handle just made, for the faults that name one.
    HostResult<int> remember(HostResult<int> handle, const std::string& path);

    static constexpr int kOps = static_cast<int>(Op::MakeFolder) + 1;
    Plan plans_[kOps];  // by Op: looked up on every transfer, so an array rather than a map
    std::map<int, std::string> paths_;
    int keyWaits_ = 0;
    std::string executablePath_ = "/usr/bin/z18man";
};

}  // namespace z18
