// The disk after a power cut, as the crash tests model it: everything written before the last
// completed flush is there; of what was written since, any set of 4 KiB pages, each as of the
// flush or as of any later write to it. A page reaches the disk whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/disk_image.h"
#include "support/recording_env.h"

namespace z18test {

constexpr std::size_t PAGE_SIZE = 4096;
using Event = z18::RecordingEnv::Event;

// One state the disk may hold after a cut, as a judge sees it.
struct Cut {
    Bytes image;           // what the disk holds
    const Bytes& flushed;  // what it held at the last completed flush
    bool ended;            // the cut came after the log's last flush: the run has ended
    // The log index of the latest write the state holds; where it holds none of the writes since
    // the flush, of the first of them (of the flush itself, or the log's end, where there are none).
    std::size_t latest;
};

// What a walk over a log found.
struct Walk {
    std::string bad;  // the first bad state: where, which pages as of when, and why; empty for none
    std::uint64_t states = 0;
    std::string windows;  // " pages/states" of each window, for the log
};

// Walks the log of a run over the disk it started from, window by window (the writes up to each
// flush, then those after the last), and judges every crash state of each window until judge
// says why one is bad. Of a window, all states are judged where they are few; otherwise the
// extremes, each page alone left behind or alone written, and a few hundred drawn at random.
Walk walkCuts(Bytes disk, const std::vector<Event>& log, std::uint32_t seed,
              const std::function<std::string(const Cut&)>& judge);

}  // namespace z18test
