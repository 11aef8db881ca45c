#include "media/elements/RecycledBuffers.h"

namespace veltrano {

GstBuffer* RecycledBuffers::Acquire(std::size_t capacity, std::size_t bytes) {
    if (!pool_ || capacity_ != capacity) {
        Release();
        pool_ = gst_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool_);
        // No upper bound: a queue holding many chunks must never wait on the pool.
        gst_buffer_pool_config_set_params(config, nullptr, static_cast<guint>(capacity), 2, 0);
        if (!gst_buffer_pool_set_config(pool_, config) || !gst_buffer_pool_set_active(pool_, TRUE)) Release();
        capacity_ = pool_ ? capacity : 0;
    }
    GstBuffer* buf = nullptr;
    if (pool_ && bytes <= capacity_ && gst_buffer_pool_acquire_buffer(pool_, &buf, nullptr) == GST_FLOW_OK) {
        gst_buffer_resize(buf, 0, static_cast<gssize>(bytes));
        return buf;
    }
    return gst_buffer_new_allocate(nullptr, bytes, nullptr);
}

void RecycledBuffers::Release() {
    if (!pool_) return;
    gst_buffer_pool_set_active(pool_, FALSE);
    gst_object_unref(pool_);
    pool_ = nullptr;
    capacity_ = 0;
}

}  // namespace veltrano
