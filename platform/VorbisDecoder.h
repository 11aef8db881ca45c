#pragma once
// The conversion graph's Vorbis decoder: libavcodec's decoder, which takes
// about half the time of libvorbis for the same stream. The library is loaded
// when a Vorbis stream is first converted, so that nothing else pays for it;
// where it cannot be loaded, the installed Vorbis decoder serves instead.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrano {

inline constexpr const char* kVorbisDecoderElementName = "veltranovorbisdec";

// Makes the element known to GStreamer (rank none: only the conversion graph
// asks for it); once per process, after gst_init.
bool RegisterVorbisDecoderElement();

// Whether the decoder library loads; loads it on the first call.
bool VorbisDecoderAvailable();

// A Vorbis header packet's index: 0 identification, 1 comment, 2 setup;
// -1 for an audio packet or anything that is not a Vorbis header.
int VorbisHeaderIndex(const std::uint8_t* data, std::size_t size);

// The three header packets as libavcodec takes them: a count byte, the
// first two lengths in Xiph lacing (runs of 255), then the packets.
std::vector<std::uint8_t> XiphExtradata(const std::array<std::vector<std::uint8_t>, 3>& headers);

}  // namespace veltrano
