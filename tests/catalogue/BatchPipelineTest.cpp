#include "catalogue/BatchPipeline.h"

#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace qm;

namespace {

TEST(BatchPipeline, ConsumesEveryBatchInOrderWithOrWithoutAHelper)
{
    for (bool threaded : {true, false}) {
        std::string seen;
        BatchPipeline pipe(
            8, [&](char* data, std::size_t n) { seen.append(data, n); }, threaded);
        std::string sent;
        for (int i = 0; i < 1000; ++i) {
            char* batch = pipe.take();
            const std::size_t n = 1 + static_cast<std::size_t>(i) % 8;
            for (std::size_t k = 0; k < n; ++k)
                batch[k] = static_cast<char>('a' + (i + k) % 26);
            sent.append(batch, n);
            pipe.submit(n);
        }
        pipe.finish();
        EXPECT_EQ(seen, sent) << threaded;
    }
}

TEST(BatchPipeline, TheConsumersFailureReachesTheCallerAsItIs)
{
    for (bool threaded : {true, false}) {
        int consumed = 0;
        BatchPipeline pipe(
            4,
            [&](char*, std::size_t) {
                if (++consumed == 3)
                    throw IoError("Unable to write to x: No space left on device");
            },
            threaded);
        try {
            for (int i = 0; i < 100; ++i) {
                pipe.take();
                pipe.submit(1);
            }
            pipe.finish();
            FAIL() << "no error";
        } catch (const IoError& e) {
            EXPECT_STREQ(e.what(), "Unable to write to x: No space left on device");
        }
        EXPECT_EQ(consumed, 3) << "nothing is consumed after the failure";
    }
}

} // namespace
