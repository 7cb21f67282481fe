#include "support/power_cut.h"

#include <algorithm>
#include <map>
#include <random>

namespace z18test {

namespace {
constexpr std::uint64_t ENUMERATE_UP_TO = 1024;  // states of a window checked one by one
constexpr int RANDOM_STATES = 256;               // drawn where a window has more
}  // namespace

void applyWrite(Bytes& image, const Event& w) {
    const std::size_t end = static_cast<std::size_t>(w.offset) + w.bytes.size();
    if (image.size() < end) image.resize(end, 0);
    std::copy(w.bytes.begin(), w.bytes.end(), image.begin() + static_cast<long>(w.offset));
}

namespace {
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
}  // namespace

Window windowOf(const Bytes& durable, const std::vector<const Event*>& writes) {
    std::map<std::size_t, std::vector<Bytes>> byPage;
    std::map<std::size_t, std::vector<const Event*>> writers;
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
            auto it = byPage.find(p);
            if (it == byPage.end()) {
                it = byPage.emplace(p, std::vector<Bytes>{pageOf(durable, p)}).first;
                writers[p].push_back(nullptr);
            }
            Bytes now = pageOf(current, p);
            if (now != it->second.back()) {
                it->second.push_back(std::move(now));
                writers[p].push_back(w);
            }
        }
    }
    Window window;
    for (auto& page : byPage) {
        if (page.second.size() < 2) continue;  // rewritten with the bytes it held: no choice
        window.pages.push_back(page.first);
        window.versions.push_back(std::move(page.second));
        window.madeBy.push_back(std::move(writers[page.first]));
    }
    return window;
}

Bytes stateOf(const Bytes& durable, const Window& w, const std::vector<std::size_t>& choice) {
    Bytes image = durable;
    for (std::size_t i = 0; i < w.pages.size(); ++i) {
        if (choice[i] == 0) continue;
        const Bytes& v = w.versions[i][choice[i]];
        const std::size_t at = w.pages[i] * PAGE_SIZE;
        if (image.size() < at + v.size()) image.resize(at + v.size(), 0);
        std::copy(v.begin(), v.end(), image.begin() + static_cast<long>(at));
    }
    return image;
}

std::string describe(const Window& w, const std::vector<std::size_t>& choice) {
    std::vector<std::size_t> flushed, last, between;
    for (std::size_t i = 0; i < w.pages.size(); ++i) {
        (choice[i] == 0                          ? flushed
         : choice[i] + 1 == w.versions[i].size() ? last
                                                 : between)
            .push_back(w.pages[i]);
    }
    return "pages as flushed: " + pageList(flushed) + "; as last written: " + pageList(last) +
           (between.empty() ? "" : "; as written in between: " + pageList(between));
}

void forEachState(const Window& w, std::uint32_t seed,
                  const std::function<bool(const std::vector<std::size_t>&)>& visit, std::uint64_t* count) {
    const std::size_t n = w.pages.size();
    std::uint64_t total = 1;
    for (const auto& v : w.versions) total = std::min<std::uint64_t>(total * v.size(), ENUMERATE_UP_TO + 1);
    std::vector<std::size_t> choice(n, 0);
    auto go = [&]() {
        ++*count;
        return visit(choice);
    };
    if (total <= ENUMERATE_UP_TO) {
        for (std::uint64_t k = 0; k < total; ++k) {
            std::uint64_t rest = k;
            for (std::size_t i = 0; i < n; ++i) {
                choice[i] = static_cast<std::size_t>(rest % w.versions[i].size());
                rest /= w.versions[i].size();
            }
            if (!go()) return;
        }
        return;
    }
    auto newest = [&](std::size_t i) { return w.versions[i].size() - 1; };
    for (std::size_t i = 0; i < n; ++i) choice[i] = 0;
    if (!go()) return;
    for (std::size_t i = 0; i < n; ++i) choice[i] = newest(i);
    if (!go()) return;
    for (std::size_t alone = 0; alone < n; ++alone) {
        for (std::size_t i = 0; i < n; ++i) choice[i] = i == alone ? 0 : newest(i);
        if (!go()) return;
        for (std::size_t i = 0; i < n; ++i) choice[i] = i == alone ? newest(i) : 0;
        if (!go()) return;
    }
    std::mt19937 gen(seed);
    for (int r = 0; r < RANDOM_STATES; ++r) {
        for (std::size_t i = 0; i < n; ++i) choice[i] = gen() % w.versions[i].size();
        if (!go()) return;
    }
}

}  // namespace z18test
