#include "media/elements/LibAv.h"

#include <gst/gst.h>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/macros.h>
}

#include <cstdarg>
#include <dlfcn.h>
#include <mutex>

namespace veltrano {

namespace {

GST_DEBUG_CATEGORY_STATIC(libavLog);

// The library's messages (a damaged packet, say) go to GStreamer's log, not
// to the terminal; the decoders report what matters as stream errors.
void ForwardLibAvMessage(void*, int level, const char* format, va_list args) {
    const GstDebugLevel to = level <= AV_LOG_ERROR ? GST_LEVEL_WARNING : level <= AV_LOG_INFO ? GST_LEVEL_INFO
                                                                                             : GST_LEVEL_DEBUG;
    if (to > gst_debug_category_get_threshold(libavLog)) return;
    gst_debug_log_valist(libavLog, to, __FILE__, "libavcodec", __LINE__, nullptr, format, args);
}

template <typename F>
bool Bind(void* library, const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(library, name));
    return f != nullptr;
}

}  // namespace

// The library built against; libavutil's entry points are found through it,
// as it depends on that library.
const LibAv* LoadLibAv() {
    static LibAv av;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* lib = dlopen("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), RTLD_LAZY | RTLD_LOCAL);
        if (!lib) return;
        const bool bound = Bind(lib, "avcodec_find_decoder", av.findDecoder) &&
                           Bind(lib, "avcodec_find_decoder_by_name", av.findDecoderByName) &&
                           Bind(lib, "avcodec_alloc_context3", av.allocContext) && Bind(lib, "avcodec_open2", av.open) &&
                           Bind(lib, "avcodec_free_context", av.freeContext) &&
                           Bind(lib, "avcodec_send_packet", av.sendPacket) &&
                           Bind(lib, "avcodec_receive_frame", av.receiveFrame) &&
                           Bind(lib, "avcodec_flush_buffers", av.flush) && Bind(lib, "av_packet_alloc", av.packetAlloc) &&
                           Bind(lib, "av_packet_free", av.packetFree) && Bind(lib, "av_frame_alloc", av.frameAlloc) &&
                           Bind(lib, "av_frame_free", av.frameFree) && Bind(lib, "av_frame_unref", av.frameUnref) &&
                           Bind(lib, "av_mallocz", av.mallocz) &&
                           Bind(lib, "av_channel_layout_channel_from_index", av.channelFromIndex) &&
                           Bind(lib, "av_log_set_callback", av.setLogCallback);
        if (!bound) return;
        GST_DEBUG_CATEGORY_INIT(libavLog, "veltranolibav", 0, "libavcodec's messages");
        av.setLogCallback(&ForwardLibAvMessage);
        av.vorbis = av.findDecoder(AV_CODEC_ID_VORBIS);
        av.mp3 = av.findDecoderByName("mp3float");
        av.aac = av.findDecoderByName("aac");
        loaded = true;
    });
    return loaded ? &av : nullptr;
}

}  // namespace veltrano
