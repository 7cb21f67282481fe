// A host that keeps a log of every write to one file and of every completed flush of it, in the
// order the tool asked for them, so that a test can rebuild what the disk may hold after a power
// cut at any moment of the run. It can also leave out one flush, as if the tool had never asked
// for it, to show that such a test notices a missing flush.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/env_wrapper.h"

namespace z18 {

class RecordingEnv : public EnvWrapper {
public:
    struct Event {
        bool flush = false;               // a completed flush; otherwise a write
        std::uint64_t offset = 0;         // of a write
        std::vector<std::uint8_t> bytes;  // what the write moved
    };

    RecordingEnv(Env* base, std::string path) : EnvWrapper(base), path_(std::move(path)) {}

    // The nth flush of the file (1-based) reports success and does nothing; 0 drops none.
    void dropFlush(int nth) { dropFlush_ = nth; }

    const std::vector<Event>& log() const { return log_; }
    // Flushes of the file the tool asked for, the dropped one included.
    int flushCalls() const { return flushCalls_; }

    HostResult<int> openFile(const std::string& path, OpenMode mode) override {
        const HostResult<int> handle = EnvWrapper::openFile(path, mode);
        if (handle.ok() && path == path_) watched_.insert(handle.value());
        return handle;
    }
    HostStatus closeFile(int handle) override {
        watched_.erase(handle);
        return EnvWrapper::closeFile(handle);
    }
    HostStatus writeAt(int handle, std::uint64_t offset, const void* buffer, std::size_t n,
                       std::size_t* done) override {
        const HostStatus status = EnvWrapper::writeAt(handle, offset, buffer, n, done);
        if (watched_.count(handle) != 0 && *done > 0) {
            Event e;
            e.offset = offset;
            const auto* from = static_cast<const std::uint8_t*>(buffer);
            e.bytes.assign(from, from + *done);
            log_.push_back(std::move(e));
        }
        return status;
    }
    HostStatus flush(int handle) override {
        if (watched_.count(handle) == 0) return EnvWrapper::flush(handle);
        if (++flushCalls_ == dropFlush_) return HostStatus();
        const HostStatus status = EnvWrapper::flush(handle);
        if (status.ok()) {
            Event e;
            e.flush = true;
            log_.push_back(std::move(e));
        }
        return status;
    }

private:
    std::string path_;
    std::set<int> watched_;
    std::vector<Event> log_;
    int flushCalls_ = 0;
    int dropFlush_ = 0;
};

}  // namespace z18
