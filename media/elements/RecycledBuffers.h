#pragma once
// Buffers of one size that come back for reuse once downstream has let go
// of them: their pages stay mapped instead of being faulted in afresh for
// every chunk that streams through.

#include <gst/gst.h>

#include <cstddef>

namespace veltrano {

class RecycledBuffers {
public:
    RecycledBuffers() = default;
    RecycledBuffers(const RecycledBuffers&) = delete;
    RecycledBuffers& operator=(const RecycledBuffers&) = delete;
    ~RecycledBuffers() { Release(); }

    // A writable buffer of 'bytes'. Buffers come from a pool of 'capacity'
    // bytes each, set up again when the capacity changes; a request larger
    // than the capacity, or a pool that fails, gets a buffer of its own.
    GstBuffer* Acquire(std::size_t capacity, std::size_t bytes);

private:
    void Release();

    GstBufferPool* pool_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace veltrano
