#include "support/power_cut.h"

#include <algorithm>
#include <map>
#include <random>

namespace z18test {

namespace {

constexpr std::uint64_t ENUMERATE_UP_TO = 1024;  // states of a window checked one by one
constexpr int RANDOM_STATES = 256;               // drawn where a window has more

// Bytes put into the image at `at`, which grows with zeros where it is shorter.
void putAt(Bytes& image, std::size_t at, const Bytes& bytes) {
    if (image.size() < at + bytes.size()) image.resize(at + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(at));
}
void applyWrite(Bytes& image, const Event& w) { putAt(image, static_cast<std::size_t>(w.offset), w.bytes); }

// "2 5-9 12": page numbers, runs joined.
std::string pageList(const std::vector<std::size_t>& pages) {
    std::string text;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
        if (!text.empty()) text += ' ';
        text += std::to_string(pages[i]) + (j > i ? "-" + std::to_string(pages[j]) : "");
        i = j + 1;
    }
    return text.empty() ? "none" : text;
}

// A page the writes since the last flush touched, with every content it held: [0] as of that
// flush (empty where the file did not reach that far), then after each write that changed it.
struct Page {
    std::size_t number = 0;
    std::vector<Bytes> versions;
    std::vector<const Event*> madeBy;  // the write that made each version ([0]: none)
};
using Window = std::vector<Page>;
using State = std::vector<std::size_t>;  // for each page of a window, its version (0: as flushed)

// The window of the writes since the last flush, over what that flush left on the disk.
Window windowOf(const Bytes& durable, const std::vector<const Event*>& writes) {
    std::map<std::size_t, Page> touched;
    Bytes current = durable;
    auto pageOf = [](const Bytes& image, std::size_t p) {
        const std::size_t from = std::min(image.size(), p * PAGE_SIZE);
        const std::size_t to = std::min(image.size(), from + PAGE_SIZE);
        return Bytes(image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(to));
    };
    for (const Event* w : writes) {
        applyWrite(current, *w);
        const std::size_t end = static_cast<std::size_t>(w->offset) + w->bytes.size();
        for (std::size_t p = static_cast<std::size_t>(w->offset) / PAGE_SIZE; p * PAGE_SIZE < end; ++p) {
            Page& page = touched[p];
            if (page.versions.empty()) page = {p, {pageOf(durable, p)}, {nullptr}};
            Bytes now = pageOf(current, p);
            if (now != page.versions.back()) {
                page.versions.push_back(std::move(now));
                page.madeBy.push_back(w);
            }
        }
    }
    Window window;
    for (auto& page : touched)
        if (page.second.versions.size() > 1) window.push_back(std::move(page.second));  // else no choice
    return window;
}

Bytes stateOf(const Bytes& durable, const Window& w, const State& choice) {
    Bytes image = durable;
    for (std::size_t i = 0; i < w.size(); ++i)
        if (choice[i] != 0) putAt(image, w[i].number * PAGE_SIZE, w[i].versions[choice[i]]);
    return image;
}

// Which pages a state took as flushed, as last written and in between, for a failure message.
std::string describe(const Window& w, const State& choice) {
    std::vector<std::size_t> flushed, last, between;
    for (std::size_t i = 0; i < w.size(); ++i) {
        (choice[i] == 0                          ? flushed
         : choice[i] + 1 == w[i].versions.size() ? last
                                                 : between)
            .push_back(w[i].number);
    }
    return "pages as flushed: " + pageList(flushed) + "; as last written: " + pageList(last) +
           (between.empty() ? "" : "; as written in between: " + pageList(between));
}

// The crash states of a window that walkCuts judges.
std::vector<State> statesOf(const Window& w, std::uint32_t seed) {
    const std::size_t n = w.size();
    std::uint64_t total = 1;
    for (const Page& page : w)
        total = std::min<std::uint64_t>(total * page.versions.size(), ENUMERATE_UP_TO + 1);
    std::vector<State> states;
    for (std::uint64_t k = 0; total <= ENUMERATE_UP_TO && k < total; ++k) {
        State& choice = states.emplace_back(n);
        std::uint64_t rest = k;
        for (std::size_t i = 0; i < n; rest /= w[i++].versions.size())
            choice[i] = static_cast<std::size_t>(rest % w[i].versions.size());
    }
    if (total <= ENUMERATE_UP_TO) return states;
    // Page `alone` as flushed and every other as last written, then the other way round; with
    // alone == n (no page), every page as last written, then every page as flushed.
    for (std::size_t alone = 0; alone <= n; ++alone) {
        for (const bool behind : {true, false}) {
            State& choice = states.emplace_back(n);
            for (std::size_t i = 0; i < n; ++i)
                choice[i] = (i == alone) == behind ? 0 : w[i].versions.size() - 1;
        }
    }
    std::mt19937 gen(seed);
    for (int r = 0; r < RANDOM_STATES; ++r) {
        State& choice = states.emplace_back(n);
        for (std::size_t i = 0; i < n; ++i) choice[i] = gen() % w[i].versions.size();
    }
    return states;
}

}  // namespace

Walk walkCuts(Bytes disk, const std::vector<Event>& log, std::uint32_t seed,
              const std::function<std::string(const Cut&)>& judge) {
    Walk walk;
    std::vector<const Event*> writes;
    int flushes = 0;
    auto index = [&log](const Event* e) { return static_cast<std::size_t>(e - log.data()); };
    for (std::size_t i = 0; i <= log.size(); ++i) {
        if (i < log.size() && !log[i].flush) {
            writes.push_back(&log[i]);
            continue;
        }
        const bool ended = i == log.size();
        const Window w = windowOf(disk, writes);
        const std::vector<State> states = statesOf(w, seed + static_cast<std::uint32_t>(flushes));
        walk.windows += " " + std::to_string(w.size()) + "/" + std::to_string(states.size());
        for (const State& choice : states) {
            ++walk.states;
            std::size_t latest = writes.empty() ? i : index(writes.front());
            for (std::size_t p = 0; p < w.size(); ++p)
                if (choice[p] > 0) latest = std::max(latest, index(w[p].madeBy[choice[p]]));
            const std::string problem = judge({stateOf(disk, w, choice), disk, ended, latest});
            if (problem.empty()) continue;
            walk.bad = (flushes == 0 ? "before the first flush" : "after flush " + std::to_string(flushes)) +
                       (ended ? ", once the run has ended" : "") + " (" + describe(w, choice) +
                       "): " + problem;
            return walk;
        }
        for (const Event* e : writes) applyWrite(disk, *e);
        writes.clear();
        ++flushes;
    }
    return walk;
}

}  // namespace z18test
