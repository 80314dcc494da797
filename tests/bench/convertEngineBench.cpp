// Key events per second through the conversion engine with the default kana layout: a
// typist's stream of single keys, thumb-key chords and releases, each followed by the poll the
// agent's thread runs on every pass. Run by hand; prints its figures.
#include "engineSampleTables.h"
#include "engineTestHost.h"

#include <windows.h>

#include <cstdio>
#include <vector>

using namespace enginetest;

namespace {

class benchEngine : public testEngine {
public:
    bool outputEvent(const keyOutputEvent& event) override {
        ++sentCount;
        lastCode = event.keyCode;
        return true;
    }
    long sentCount = 0;
    keyCode lastCode = 0;
};

struct step {
    bool down;
    keyCode key;
    int gap;  // ms before this event
};

// Home-row typing with every fourth letter chorded with a thumb key.
std::vector<step> typingStream() {
    const char* text = "asdfghjkl;qwertyuiopzxcvbnm,./";
    std::vector<step> steps;
    for (int round = 0; round < 4; ++round) {
        for (const char* p = text; *p; ++p) {
            const keyCode k = key(*p);
            const int n = static_cast<int>(p - text) + round;
            const keyCode thumb = n % 8 == 0 ? 0x39 : n % 8 == 4 ? 0x79 : 0;
            if (thumb) steps.push_back({true, thumb, 40});
            steps.push_back({true, k, thumb ? 20 : 60});
            steps.push_back({false, k, 50});
            if (thumb) steps.push_back({false, thumb, 10});
        }
    }
    return steps;
}

double seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main() {
    benchEngine e;
    const bool shipped = loadShippedTables(e);
    if (!shipped && !loadOwnTables(e)) {
        std::printf("the tables could not be loaded\n");
        return 1;
    }
    e.leftThumb = 0x39;
    e.rightThumb = 0x79;
    e.shiftAppliesTo = 15;
    e.enabledKinds = 1 | 4;

    const std::vector<step> steps = typingStream();
    // Warm up, then measure.
    for (int i = 0; i < 20; ++i)
        for (const step& s : steps) {
            e.advance(s.gap);
            e.keyEvent(s.down, s.key, e.clock);
            e.poll();
        }
    const long passes = 2000;
    e.sentCount = 0;
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    for (long i = 0; i < passes; ++i)
        for (const step& s : steps) {
            e.advance(s.gap);
            e.keyEvent(s.down, s.key, e.clock);
            e.poll();
        }
    QueryPerformanceCounter(&end);

    const double events = static_cast<double>(passes) * static_cast<double>(steps.size());
    const double secs = seconds(start, end, freq);
    std::printf("tables: %s\n", shipped ? "default data files" : "stand-in tables");
    std::printf("key events: %.0f (each with one poll), output events: %ld\n", events, e.sentCount);
    std::printf("key events per second: %.0f\n", events / secs);
    std::printf("cost per key event: %.3f us\n", secs * 1e6 / events);
    return e.lastCode == 0xFFFF ? 2 : 0;
}
