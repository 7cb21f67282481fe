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

void applyWrite(Bytes& image, const Event& w);

// The pages a window of writes touched, each with every content it held: [0] as of the last
// flush (empty where the file did not reach that far), then after each write that changed it.
struct Window {
    std::vector<std::size_t> pages;
    std::vector<std::vector<Bytes>> versions;
    std::vector<std::vector<const Event*>> madeBy;  // the write that made each version ([0]: none)
};

// The window of the writes since the last flush, over what that flush left on the disk.
Window windowOf(const Bytes& durable, const std::vector<const Event*>& writes);
// One crash state of a window: for each page, the version `choice` names (0: as flushed).
Bytes stateOf(const Bytes& durable, const Window& w, const std::vector<std::size_t>& choice);
// Which pages a state took as flushed, as last written and in between, for a failure message.
std::string describe(const Window& w, const std::vector<std::size_t>& choice);
// Every crash state of one window: all of them where they are few; otherwise the extremes, each
// page alone left behind or alone written, and a few hundred drawn at random. Stops where visit
// returns false; *count receives the states visited.
void forEachState(const Window& w, std::uint32_t seed,
                  const std::function<bool(const std::vector<std::size_t>&)>& visit, std::uint64_t* count);

}  // namespace z18test
