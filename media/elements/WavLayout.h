#pragma once
// media/elements-internal: what a WAV file says of the stream a writer is
// given: its format and channel mask from the caps, its tags from
// GStreamer's tag list.

#include "formats/WavHeader.h"

#include <gst/audio/audio.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace veltrano {

// Channels in the order WAV files keep them, with their speaker bits.
struct ChannelLayout {
    std::uint32_t mask = 0;
    bool reorder = false;
    std::array<GstAudioChannelPosition, 8> from{};
    std::array<GstAudioChannelPosition, 8> to{};
};

ChannelLayout LayoutOf(const GstAudioInfo& info);
std::optional<wav::Format> WavFormatOf(const GstAudioInfo& info);
wav::Tags WavTagsOf(const GstTagList* list);

}  // namespace veltrano
