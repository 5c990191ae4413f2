#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "worker/worker.h"

namespace plotmint {
namespace {

// Every chunk arrives whole and in order, whatever the depth and however the two sides'
// speeds differ, and the giver never has more than `depth` chunks waiting.
class WordChannelOrder : public ::testing::TestWithParam<std::tuple<size_t, int>> {};

TEST_P(WordChannelOrder, ChunksArriveWholeAndInOrder) {
    const auto [depth, slow_side] = GetParam();
    const std::unique_ptr<WordChannel> channel = make_word_channel(depth);
    if (!channel) GTEST_SKIP() << "this build has no threads";
    const std::unique_ptr<Worker> worker = make_worker();
    constexpr uint32_t kChunks = 300;
    std::vector<uint32_t> seen;
    bool whole = true;
    worker->start([&] {
        std::vector<uint32_t> chunk;
        while (channel->take(chunk)) {
            if (slow_side == 1) std::this_thread::sleep_for(std::chrono::microseconds(50));
            // Chunk k holds k + 1 words, all k.
            if (chunk.empty() || chunk.size() != size_t{chunk[0]} + 1) whole = false;
            for (const uint32_t w : chunk)
                if (w != chunk[0]) whole = false;
            if (!chunk.empty()) seen.push_back(chunk[0]);
        }
    });
    std::vector<uint32_t> chunk;
    for (uint32_t k = 0; k < kChunks; ++k) {
        if (slow_side == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        // What put() leaves behind is empty, a used chunk at most.
        ASSERT_TRUE(chunk.empty());
        chunk.assign(size_t{k} + 1, k);
        channel->put(chunk);
    }
    channel->close();
    worker->wait();
    EXPECT_TRUE(whole);
    ASSERT_EQ(seen.size(), kChunks);
    for (uint32_t k = 0; k < kChunks; ++k) ASSERT_EQ(seen[k], k);
}

INSTANTIATE_TEST_SUITE_P(DepthsAndSpeeds, WordChannelOrder,
                         ::testing::Combine(::testing::Values<size_t>(0, 1, 4), ::testing::Values(0, 1, 2)));

// A taker that fails stops taking; the giver must then never wait, or the run would hang.
TEST(WordChannel, GiverDoesNotWaitOnceTheTakerStopped) {
    const std::unique_ptr<WordChannel> channel = make_word_channel(1);
    if (!channel) GTEST_SKIP() << "this build has no threads";
    const std::unique_ptr<Worker> worker = make_worker();
    worker->start([&] {
        std::vector<uint32_t> chunk;
        channel->take(chunk);
        channel->stop_taking();
    });
    std::atomic<bool> done{false};
    std::thread giver([&] {
        std::vector<uint32_t> chunk;
        for (int i = 0; i < 1000; ++i) {
            chunk.assign(100, 7);
            channel->put(chunk);
        }
        channel->close();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(done) << "put() waited for a taker that had stopped";
    if (!done) channel->stop_taking();
    giver.join();
    worker->wait();
}

TEST(WordChannel, TakeEndsAfterCloseWithNothingWaiting) {
    const std::unique_ptr<WordChannel> channel = make_word_channel(2);
    if (!channel) GTEST_SKIP() << "this build has no threads";
    std::vector<uint32_t> chunk{1, 2, 3};
    channel->put(chunk);
    channel->close();
    std::vector<uint32_t> got;
    ASSERT_TRUE(channel->take(got));
    EXPECT_EQ(got, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_FALSE(channel->take(got));
}

}  // namespace
}  // namespace plotmint
