#pragma once
// The conversion graph's Vorbis and AAC decoders: libavcodec's decoders
// behind GStreamer's audio decoder base. Vorbis decodes in about half
// libvorbis's time; for AAC the gain is the loading: GStreamer's libav plugin
// binds all of its libraries' symbols when it loads (some 40 ms before the
// first sample), where ours are bound as they are called. The library is
// loaded when such a stream is first converted, so that nothing else pays for
// it; where it cannot be loaded, the installed decoders serve instead.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrano {

inline constexpr const char* kVorbisDecoderElementName = "veltranovorbisdec";
inline constexpr const char* kAacDecoderElementName = "veltranoaacdec";

// Makes both elements known to GStreamer (rank none: only the conversion
// graph asks for them); once per process, after gst_init.
bool RegisterLibAvDecoderElements();

// Whether the decoder library loads and has the codec; loads it on the first call.
bool VorbisDecoderAvailable();
bool AacDecoderAvailable();

// A Vorbis header packet's index: 0 identification, 1 comment, 2 setup;
// -1 for an audio packet or anything that is not a Vorbis header.
int VorbisHeaderIndex(const std::uint8_t* data, std::size_t size);

// The three header packets as libavcodec takes them: a count byte, the
// first two lengths in Xiph lacing (runs of 255), then the packets.
std::vector<std::uint8_t> XiphExtradata(const std::array<std::vector<std::uint8_t>, 3>& headers);

}  // namespace veltrano
