// A wrapper around another Env that makes a chosen operation fail or fall short, so that every
// error path of the tool can be driven from a test. Not used by the shipped executable.
#pragma once

#include <map>
#include <string>

#include "host/env.h"

namespace z18 {

class FaultEnv : public Env {
public:
    enum class Op { Open, Read, Write };
    enum class Kind { Fail, Short };

    explicit FaultEnv(Env* base) : base_(base) {}

    // Makes the nth call (1-based) of op fail or move one byte fewer than asked. With a path
    // suffix, only calls on files whose path ends in it are counted.
    void inject(Op op, int nth, Kind kind, const std::string& pathSuffix = std::string());
    // Calls of op counted so far (on the injected path, when one was given).
    int calls(Op op) const;

    // The console wait: counted, and optionally a scripted action run at each pause.
    int keyWaits() const { return keyWaits_; }

    int openFile(const std::string& path, OpenMode mode) override;
    void closeFile(int handle) override;
    void seek(int handle, std::uint64_t offset) override { base_->seek(handle, offset); }
    bool read(int handle, void* buffer, std::size_t n, std::size_t* done) override;
    bool write(int handle, const void* buffer, std::size_t n, std::size_t* done) override;
    bool fileSize(int handle, std::uint64_t* size) override { return base_->fileSize(handle, size); }
    bool findFiles(const std::string& pattern, std::vector<FoundEntry>* found) override {
        return base_->findFiles(pattern, found);
    }
    void waitKey() override { ++keyWaits_; }
    std::string executablePath() override { return executablePath_; }
    void setExecutablePath(const std::string& path) { executablePath_ = path; }

private:
    struct Plan {
        int nth = 0;
        Kind kind = Kind::Fail;
        std::string suffix;
        int count = 0;
    };
    // Returns the fault to apply to this call, if any.
    bool due(Op op, const std::string& path, Kind* kind);

    Env* base_;
    std::map<Op, Plan> plans_;
    std::map<int, std::string> paths_;
    int keyWaits_ = 0;
    std::string executablePath_ = "/usr/bin/z18man";
};

}  // namespace z18
