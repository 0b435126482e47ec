#pragma once
// Two-core pipelining of a pass: the calling thread fills batches of fixed-size records
// in order and a helper thread consumes them in the same order, while the caller fills
// the next. A failure on either side stops both and reaches the caller as the same
// exception, at its next take() or at finish(). Everything the consumer touches
// belongs to it until finish() returns.
#include "platform/HelperThread.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qm {

class BatchPipeline {
public:
    using Consumer = std::function<void(char* records, std::size_t count)>;

    // `threaded` false runs the consumer on the caller's thread at submit().
    BatchPipeline(std::size_t batchBytes, Consumer consumer, bool threaded)
        : consumer_(std::move(consumer))
    {
        // Left uninitialised: a short pass touches only the memory it fills.
        for (Batch& b : batches_)
            b.data.reset(new char[batchBytes]);
        if (threaded)
            worker_.emplace([this] { run(); });
    }
    BatchPipeline(const BatchPipeline&) = delete;
    BatchPipeline& operator=(const BatchPipeline&) = delete;
    // An abandoned pass (the caller failed) stops the helper without waiting for it
    // to consume what is left.
    ~BatchPipeline() { endHelper(stop_); }

    // A helper pays for itself on a machine with a second core and a pass over enough
    // bytes: a small one spends less time than starting and feeding it costs. A pass
    // with much work for each byte reaches that point sooner (`leastBytes`).
    static constexpr std::uint64_t kLeastBytes = 2 << 20;
    static bool worthAHelper(std::uint64_t bytes, std::uint64_t leastBytes = kLeastBytes)
    {
        return bytes >= leastBytes && std::thread::hardware_concurrency() > 1;
    }

    // The next batch to fill; waits while every batch is still being consumed.
    char* take()
    {
        if (!worker_)
            return batches_[0].data.get();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || submitted_ - consumed_ < kBatches; });
        if (failure_)
            std::rethrow_exception(failure_);
        return batches_[submitted_ % kBatches].data.get();
    }

    // Hands over the batch from take(), holding `count` records.
    void submit(std::size_t count)
    {
        if (!worker_) {
            consumer_(batches_[0].data.get(), count);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            batches_[submitted_ % kBatches].count = count;
            ++submitted_;
        }
        changed_.notify_all();
    }

    // Runs `produce`, which fills batches through take() and submit(), then waits for
    // the consumer. A failure of the producer comes out after any failure the consumer
    // met in the batches handed over before it, as in a pass that does both in turn.
    template <typename Produce> void run(Produce&& produce)
    {
        try {
            produce();
        } catch (...) {
            const std::exception_ptr failure = std::current_exception();
            finish();
            std::rethrow_exception(failure);
        }
        finish();
    }

    // Waits until every batch is consumed; rethrows the consumer's failure.
    void finish()
    {
        if (!worker_)
            return;
        endHelper(finished_);
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    static constexpr std::size_t kBatches = 3;

    // Tells the helper why to end (`reason`: stop_ or finished_) and waits for it.
    void endHelper(bool& reason)
    {
        if (!worker_)
            return;
        {
            std::lock_guard lock(mutex_);
            reason = true;
        }
        changed_.notify_all();
        worker_.reset(); // joins
    }
    struct Batch {
        std::unique_ptr<char[]> data;
        std::size_t count = 0;
    };

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || finished_ || consumed_ < submitted_; });
            if (stop_ || consumed_ == submitted_)
                return;
            Batch& batch = batches_[consumed_ % kBatches];
            lock.unlock();
            try {
                consumer_(batch.data.get(), batch.count);
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            lock.lock();
            ++consumed_;
            changed_.notify_all();
        }
    }

    Consumer consumer_;
    Batch batches_[kBatches];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t submitted_ = 0;
    std::size_t consumed_ = 0;
    bool finished_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::optional<HelperThread> worker_; // last: started once everything above is in place
};

} // namespace qm
