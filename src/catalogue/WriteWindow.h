#pragma once
// Positioned writes into a table file through one small window of it, so that a
// pass writing records in (mostly) ascending or descending order costs one system
// call per window instead of one per record. The file keeps exactly the bytes that
// direct positioned writes would give it, gaps filled with zeros.
#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qm {

class WriteWindow {
public:
    explicit WriteWindow(File& file, std::size_t windowSize = 64 * 1024)
        : file_(file)
        , buffer_(windowSize)
        , fileSize_(file.size())
        , initialSize_(fileSize_)
    {
    }
    WriteWindow(const WriteWindow&) = delete;
    WriteWindow& operator=(const WriteWindow&) = delete;
    // Unflushed bytes of an abandoned pass are dropped.
    ~WriteWindow() = default;

    void write(std::uint64_t offset, const void* data, std::size_t n)
    {
        const auto* src = static_cast<const char*>(data);
        while (n > 0) {
            const std::uint64_t base = offset - offset % buffer_.size();
            if (base != base_)
                move(base);
            const std::size_t at = static_cast<std::size_t>(offset - base_);
            const std::size_t take = std::min(n, buffer_.size() - at);
            std::memcpy(buffer_.data() + at, src, take);
            dirtyLo_ = std::min(dirtyLo_, at);
            dirtyHi_ = std::max(dirtyHi_, at + take);
            fileSize_ = std::max<std::uint64_t>(fileSize_, offset + take);
            offset += take;
            src += take;
            n -= take;
        }
    }

    void flush()
    {
        if (dirtyHi_ > dirtyLo_) {
            file_.writeAt(base_ + dirtyLo_, buffer_.data() + dirtyLo_, dirtyHi_ - dirtyLo_);
            lowestWritten_ = std::min(lowestWritten_, base_ + dirtyLo_);
        }
        dirtyLo_ = buffer_.size();
        dirtyHi_ = 0;
    }

private:
    void move(std::uint64_t base)
    {
        flush();
        base_ = base;
        std::size_t have = 0;
        // A window below everything this pass wrote and past the file's first end holds
        // nothing yet (a pass writing downwards meets only such windows).
        const bool untouched = base >= initialSize_ && base + buffer_.size() <= lowestWritten_;
        if (base < fileSize_ && !untouched)
            have = file_.readSomeAt(base, buffer_.data(),
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), fileSize_ - base)));
        std::memset(buffer_.data() + have, 0, buffer_.size() - have);
    }

    File& file_;
    std::vector<char> buffer_;
    std::uint64_t base_ = UINT64_MAX;
    std::uint64_t fileSize_;
    const std::uint64_t initialSize_;
    std::uint64_t lowestWritten_ = UINT64_MAX;
    std::size_t dirtyLo_ = SIZE_MAX;
    std::size_t dirtyHi_ = 0;
};

} // namespace qm
