#include "media/elements/WavLayout.h"

#include "media/GstHandles.h"

#include <algorithm>

namespace veltrano {

namespace {

// The speaker bit of a position in a WAV file's channel mask; 0 for one it has none for.
std::uint32_t SpeakerBit(GstAudioChannelPosition p) {
    switch (p) {
    case GST_AUDIO_CHANNEL_POSITION_MONO:
    case GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER: return 0x4;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT: return 0x1;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT: return 0x2;
    case GST_AUDIO_CHANNEL_POSITION_LFE1: return 0x8;
    case GST_AUDIO_CHANNEL_POSITION_REAR_LEFT: return 0x10;
    case GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT: return 0x20;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return 0x40;
    case GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return 0x80;
    case GST_AUDIO_CHANNEL_POSITION_REAR_CENTER: return 0x100;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT: return 0x200;
    case GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT: return 0x400;
    case GST_AUDIO_CHANNEL_POSITION_TOP_CENTER: return 0x800;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_LEFT: return 0x1000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_CENTER: return 0x2000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_FRONT_RIGHT: return 0x4000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_LEFT: return 0x8000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_CENTER: return 0x10000;
    case GST_AUDIO_CHANNEL_POSITION_TOP_REAR_RIGHT: return 0x20000;
    default: return 0;
    }
}

std::string StringTag(const GstTagList* list, const char* tag) {
    gchar* value = nullptr;
    if (!gst_tag_list_get_string(list, tag, &value)) return {};
    gsth::String owned = gsth::String::Adopt(value);
    return owned.get();
}

std::string DateTag(const GstTagList* list) {
    GstDateTime* when = nullptr;
    if (gst_tag_list_get_date_time(list, GST_TAG_DATE_TIME, &when)) {
        gsth::String text = gsth::String::Adopt(gst_date_time_to_iso8601_string(when));
        gst_date_time_unref(when);
        if (text) return text.get();
    }
    GDate* date = nullptr;
    if (!gst_tag_list_get_date(list, GST_TAG_DATE, &date)) return {};
    char text[16];
    g_snprintf(text, sizeof text, "%04u-%02u-%02u", unsigned{g_date_get_year(date)},
               static_cast<unsigned>(g_date_get_month(date)), unsigned{g_date_get_day(date)});
    g_date_free(date);
    return text;
}

}  // namespace

// A WAV file keeps its channels in the order of their speaker bits; GStreamer
// keeps them in its own order, which differs for the top channels. Channels
// without a speaker bit (or without positions) keep their order, mask 0.
ChannelLayout LayoutOf(const GstAudioInfo& info) {
    ChannelLayout l;
    const int channels = GST_AUDIO_INFO_CHANNELS(&info);
    if (info.flags & GST_AUDIO_FLAG_UNPOSITIONED) return l;
    std::uint32_t mask = 0;
    for (int c = 0; c < channels; ++c) {
        const std::uint32_t bit = SpeakerBit(info.position[c]);
        if (bit == 0 || (mask & bit)) return l;
        mask |= bit;
        l.from[static_cast<std::size_t>(c)] = info.position[c];
    }
    l.mask = mask;
    l.to = l.from;
    std::sort(l.to.begin(), l.to.begin() + channels,
              [](GstAudioChannelPosition a, GstAudioChannelPosition b) { return SpeakerBit(a) < SpeakerBit(b); });
    l.reorder = l.to != l.from;
    return l;
}

std::optional<wav::Format> WavFormatOf(const GstAudioInfo& info) {
    wav::Format f;
    switch (GST_AUDIO_INFO_FORMAT(&info)) {
    case GST_AUDIO_FORMAT_U8: f.bitsPerSample = 8; break;
    case GST_AUDIO_FORMAT_S16LE: f.bitsPerSample = 16; break;
    case GST_AUDIO_FORMAT_S24LE: f.bitsPerSample = 24; break;
    case GST_AUDIO_FORMAT_S32LE: f.bitsPerSample = 32; break;
    case GST_AUDIO_FORMAT_F32LE:
        f.bitsPerSample = 32;
        f.kind = wav::SampleKind::Float;
        break;
    default: return std::nullopt;
    }
    f.channels = static_cast<std::uint16_t>(GST_AUDIO_INFO_CHANNELS(&info));
    f.sampleRate = static_cast<std::uint32_t>(GST_AUDIO_INFO_RATE(&info));
    f.channelMask = LayoutOf(info).mask;
    if (wav::FormatProblem(f)) return std::nullopt;
    return f;
}

wav::Tags WavTagsOf(const GstTagList* list) {
    wav::Tags t;
    if (!list) return t;
    t.title = StringTag(list, GST_TAG_TITLE);
    t.artist = StringTag(list, GST_TAG_ARTIST);
    t.album = StringTag(list, GST_TAG_ALBUM);
    t.date = DateTag(list);
    t.genre = StringTag(list, GST_TAG_GENRE);
    guint track = 0;
    if (gst_tag_list_get_uint(list, GST_TAG_TRACK_NUMBER, &track) && track > 0) t.track = std::to_string(track);
    t.comment = StringTag(list, GST_TAG_COMMENT);
    return t;
}

}  // namespace veltrano
