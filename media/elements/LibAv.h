#pragma once
// libavcodec, loaded on first use and bound lazily: its decoders for Vorbis
// and MP3 are faster than the installed GStreamer ones, and loading it (close
// to a hundred libraries) is paid only by conversions that use them.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace veltrano {

// The entry points used, taken from the library at run time.
struct LibAv {
    decltype(&avcodec_find_decoder) findDecoder = nullptr;
    decltype(&avcodec_find_decoder_by_name) findDecoderByName = nullptr;
    decltype(&avcodec_alloc_context3) allocContext = nullptr;
    decltype(&avcodec_open2) open = nullptr;
    decltype(&avcodec_free_context) freeContext = nullptr;
    decltype(&avcodec_send_packet) sendPacket = nullptr;
    decltype(&avcodec_receive_frame) receiveFrame = nullptr;
    decltype(&avcodec_flush_buffers) flush = nullptr;
    decltype(&av_packet_alloc) packetAlloc = nullptr;
    decltype(&av_packet_free) packetFree = nullptr;
    decltype(&av_frame_alloc) frameAlloc = nullptr;
    decltype(&av_frame_free) frameFree = nullptr;
    decltype(&av_frame_unref) frameUnref = nullptr;
    decltype(&av_mallocz) mallocz = nullptr;
    decltype(&av_channel_layout_channel_from_index) channelFromIndex = nullptr;
    decltype(&av_log_set_callback) setLogCallback = nullptr;
    const AVCodec* vorbis = nullptr;  // null where the library has no such decoder
    const AVCodec* mp3 = nullptr;     // the float MP3 decoder
    const AVCodec* aac = nullptr;     // the float AAC decoder
};

// The library, or null where it cannot be loaded; loads it on the first call
// (from any thread).
const LibAv* LoadLibAv();

}  // namespace veltrano
