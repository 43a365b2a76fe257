#include "krvt5/Engine.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// When a client waiting with SQLite's own busy handler tries the file again, counted from the
// moment it began to wait: the sleeps of sqliteDefaultBusyCallback, then 100 ms each.
std::vector<int> triesOfAWaitingClient(int until)
{
    const int sleeps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50};
    std::vector<int> tries;
    int at = 0;
    for (const int sleep : sleeps) {
        at += sleep;
        tries.push_back(at);
    }
    while (at < until) {
        at += 100;
        tries.push_back(at);
    }
    return tries;
}

// Whatever a batch held, a client that began to wait at any moment of it tries again while the
// file is free after it, so that it never waits for a second batch.
TEST(SqliteEngine, AClientThatWaitedForABatchGetsInBeforeTheNext)
{
    const krvt5::Engine& sqlite = krvt5::Engine::sqlite();
    for (int held = 1; held <= 600; ++held) {
        const int pause = sqlite.pauseAfterBatchMs(held);
        const std::vector<int> tries = triesOfAWaitingClient(held + pause + 200);
        for (int began = 0; began <= held; ++began) {
            bool inside = false;
            for (const int at : tries)
                inside = inside || (began + at >= held && began + at < held + pause);
            ASSERT_TRUE(inside) << "held " << held << " ms, pause " << pause
                                << " ms, the client began to wait at " << began << " ms";
        }
    }
}

} // namespace
