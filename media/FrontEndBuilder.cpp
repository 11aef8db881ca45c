#include "media/FrontEndBuilder.h"

#include "media/FilterGraphGst.h"
#include "media/MediaProbe.h"
#include "media/SelectionCut.h"
#include "media/elements/FileReader.h"
#include "media/elements/LibAvDecoders.h"
#include "media/elements/SpanJoiner.h"

#include <gst/base/gsttypefindhelper.h>

#include <cstdio>
#include <cstring>

namespace veltrano {

void PostStreamError(GroupFrontEnd& fe, gint code, const std::string& text) {
    GError* err = g_error_new_literal(GST_STREAM_ERROR, code, text.c_str());
    gst_element_post_message(fe.bin, gst_message_new_error(GST_OBJECT(fe.bin), err, nullptr));
    g_error_free(err);
}

namespace {

// Decoders, and the float conversion passing planes through, clip a planar
// buffer by describing the kept part in its audio meta only; such buffers
// are rewritten compactly before the cut, which reads planes by size.
GstPadProbeReturn CompactPlanes(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    GstAudioMeta* meta = gst_buffer_get_audio_meta(buf);
    if (!meta || GST_AUDIO_INFO_LAYOUT(&meta->info) != GST_AUDIO_LAYOUT_NON_INTERLEAVED) return GST_PAD_PROBE_OK;
    const gsize bps = static_cast<gsize>(GST_AUDIO_INFO_BPS(&meta->info));
    const gint channels = GST_AUDIO_INFO_CHANNELS(&meta->info);
    const gsize plane = meta->samples * bps;
    bool compact = gst_buffer_get_size(buf) == plane * static_cast<gsize>(channels);
    for (gint c = 0; compact && c < channels; ++c)
        compact = meta->offsets[c] == static_cast<gsize>(c) * plane;
    if (compact) return GST_PAD_PROBE_OK;

    GstAudioBuffer in;
    if (!gst_audio_buffer_map(&in, &meta->info, buf, GST_MAP_READ)) return GST_PAD_PROBE_OK;
    GstBuffer* out = gst_buffer_new_allocate(nullptr, plane * static_cast<gsize>(channels), nullptr);
    GstMapInfo map;
    gst_buffer_map(out, &map, GST_MAP_WRITE);
    for (gint c = 0; c < channels; ++c) std::memcpy(map.data + static_cast<gsize>(c) * plane, in.planes[c], plane);
    gst_buffer_unmap(out, &map);
    gst_buffer_copy_into(out, buf, GstBufferCopyFlags(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS), 0,
                         static_cast<gsize>(-1));
    gst_buffer_add_audio_meta(out, &meta->info, meta->samples, nullptr);
    gst_audio_buffer_unmap(&in);
    gst_buffer_unref(buf);
    GST_PAD_PROBE_INFO_DATA(info) = out;
    return GST_PAD_PROBE_OK;
}

// The installed decoders for the stream, best first; for Vorbis and AAC,
// ours first when its library loads (they are not ranked, so playback keeps
// the installed ones).
GList* DecodersFor(GstCaps* caps) {
    GList* fitting =
        gsth::FactoriesTaking(GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, caps);
    for (auto [name, available] : {std::pair{kVorbisDecoderElementName, &VorbisDecoderAvailable},
                                   std::pair{kAacDecoderElementName, &AacDecoderAvailable}}) {
        GstElementFactory* own = gst_element_factory_find(name);
        if (!own) continue;
        if (gst_element_factory_can_sink_all_caps(own, caps) && available()) return g_list_prepend(fitting, own);
        gst_object_unref(own);
    }
    return fitting;
}

GstElement* LinkDecoder(GroupFrontEnd& fe, GstPad* pad, GstCaps* caps) {
    GList* fitting = DecodersFor(caps);
    GstElement* chosen = nullptr;
    for (GList* l = fitting; l && !chosen; l = l->next) {
        GstElement* dec = gst_element_factory_create(GST_ELEMENT_FACTORY(l->data), nullptr);
        if (!dec) continue;
        gst_bin_add(GST_BIN(fe.bin), dec);
        gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(dec, "sink"));
        if (sink && gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK && gst_element_link(dec, fe.convert)) {
            chosen = dec;
        } else {
            gst_element_set_state(dec, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(fe.bin), dec);
        }
    }
    gst_plugin_feature_list_free(fitting);
    if (!chosen) return nullptr;
    gst_element_sync_state_with_parent(chosen);
    return chosen;
}

// A parser that applies the stated delay itself marks the first frames with
// what the decoder is to clip; then nothing is left to compensate here.
GstPadProbeReturn NoteParserTrimming(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (gst_buffer_get_audio_clipping_meta(GST_PAD_PROBE_INFO_BUFFER(info))) fe.parserTrims.store(true);
    return ++fe.inspected >= 4 ? GST_PAD_PROBE_REMOVE : GST_PAD_PROBE_OK;
}

void PostNoSound(GroupFrontEnd& fe) {
    if (fe.soundStream > 0 && fe.soundStreams <= fe.soundStream)
        PostStreamError(fe, GST_STREAM_ERROR_WRONG_TYPE, NoSoundStreamText(fe.soundStream, fe.soundStreams));
    else if (fe.sawAudio)
        PostStreamError(fe, GST_STREAM_ERROR_CODEC_NOT_FOUND,
                        "No decoder is installed for the sound of this file. Install the GStreamer plugins for "
                        "its format.");
    else
        PostStreamError(fe, GST_STREAM_ERROR_WRONG_TYPE, "The media file has no sound stream.");
}

// The parser lets data flow only once it has exposed every stream: data on a
// stream left aside, with no sound stream taken, means there is none to take.
GstPadProbeReturn CheckSoundTaken(GstPad*, GstPadProbeInfo*, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    std::lock_guard lock(fe.linkMutex);
    if (!fe.linked && !fe.reportedNoSound) {
        fe.reportedNoSound = true;
        PostNoSound(fe);
    }
    return GST_PAD_PROBE_REMOVE;
}

// The bin starts its elements in an order of its own: the parser may stream
// before the elements behind it are active, and a buffer pushed into an
// inactive pad stops the branch without an error. They are made active
// before the sound stream is linked, from the joiner back.
void ActivateConsumers(GroupFrontEnd& fe) {
    for (GstElement* e : {fe.joiner, fe.queue, fe.floats, fe.convert}) {
        if (!e) continue;
        GstState state = GST_STATE_NULL;
        gst_element_get_state(e, &state, nullptr, 0);
        if (state < GST_STATE_PAUSED) gst_element_sync_state_with_parent(e);
    }
}

// More channels than the converter carries are refused before they reach the
// float conversion, which does not survive some counts (64 channels crash it).
GstPadProbeReturn RefuseTooManyChannels(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(e) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(e, &caps);
    const GstStructure* s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    int channels = 0;
    if (!s || !gst_structure_get_int(s, "channels", &channels) || channels <= kMaxSourceChannels)
        return GST_PAD_PROBE_OK;
    GroupFrontEnd& fe = Of(data);
    PostStreamError(fe, GST_STREAM_ERROR_FORMAT,
                    "The sound of " + fe.path + " has " + std::to_string(channels) + " channels; at most " +
                        std::to_string(kMaxSourceChannels) + " can be converted.");
    return GST_PAD_PROBE_DROP;
}

// A chained file ends its sound stream and starts another: the cut counts
// one stream's frames, so the file is refused rather than cut in the middle.
void OnPadRemoved(GstElement*, GstPad* pad, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    std::lock_guard lock(fe.linkMutex);
    if (!fe.linked || fe.linkedPad != pad || fe.state.load() == CutState::Ended) return;
    PostStreamError(fe, GST_STREAM_ERROR_FORMAT,
                    "The sound of " + fe.path +
                        " ends and starts again as another stream (a chained file); it cannot be converted in one "
                        "piece.");
}

// The parser exposes its streams; the chosen sound stream is decoded (stream
// 0: the first one a decoder takes), every other stream is left unconnected
// and so is never decoded.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    gsth::Caps caps = gsth::Caps::Adopt(gst_pad_get_current_caps(pad));
    if (!caps) caps = gsth::Caps::Adopt(gst_pad_query_caps(pad, nullptr));
    const GstStructure* s = caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    const char* name = s ? gst_structure_get_name(s) : "";
    std::lock_guard lock(fe.linkMutex);
    const bool sound = g_str_has_prefix(name, "audio/");
    const int index = sound ? fe.soundStreams++ : -1;
    bool taken = false;
    if (!fe.linked && sound && (fe.soundStream == 0 || index == fe.soundStream)) {
        ActivateConsumers(fe);
        fe.sawAudio = true;
        if (g_str_has_prefix(name, "audio/x-raw")) {
            gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(fe.convert, "sink"));
            taken = gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK;
        } else {
            taken = LinkDecoder(fe, pad, caps.get()) != nullptr;
        }
    }
    if (!taken) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CheckSoundTaken, NewRef(*static_cast<FrontEndRef*>(data)),
                          &DeleteRef);
        return;
    }
    int mpegVersion = 0;
    if (fe.mp3 && std::strcmp(name, "audio/mpeg") == 0 && gst_structure_get_int(s, "mpegversion", &mpegVersion) &&
        mpegVersion == 1 && fe.mp3->LeadingSamples() > 0) {
        fe.statedLeading = fe.mp3->LeadingSamples();
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &NoteParserTrimming, NewRef(*static_cast<FrontEndRef*>(data)),
                          &DeleteRef);
    }
    fe.linked = true;
    fe.linkedPad = pad;
}

// A stream that is neither sound nor a container is exposed as it comes: it
// is never decoded, so parsing its frames (a video's pictures) would be
// wasted work.
gboolean ParseOnlySound(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    const GstStructure* s = gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!s || g_str_has_prefix(gst_structure_get_name(s), "audio/")) return TRUE;
    return gsth::SomeFactoryTakes(GST_ELEMENT_FACTORY_TYPE_DEMUXER, caps);
}

// One branch: file, parser, decoder of the first sound stream (for an MP3,
// our reader, which is all three), float conversion and the queue that
// decouples it; returns the queue.
Result BuildBranch(GstBin* bin, const SourceSpec& spec, const FrontEndRef& fe) {
    const std::string n = std::to_string(fe->branch);
    const bool ownMp3 = fe->mp3Table != nullptr;
    GstElement* src =
        gst_element_factory_make(ownMp3 ? kMp3ReaderElementName : kFileReaderElementName, ("source " + n).c_str());
    GstElement* parse = ownMp3 ? nullptr : gst_element_factory_make("parsebin", ("parser " + n).c_str());
    GstElement* convert = gst_element_factory_make("audioconvert", ("decoded " + n).c_str());
    GstElement* floats = gst_element_factory_make("capsfilter", ("float " + n).c_str());
    GstElement* queue = gst_element_factory_make("queue", ("group queue " + n).c_str());
    if (!src || (!ownMp3 && !parse) || !convert || !floats || !queue) {
        for (GstElement* e : {src, parse, convert, floats, queue})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        return Result(E_NOINTERFACE, "The GStreamer elements for reading media (parsebin) are not installed.");
    }
    g_object_set(src, "location", spec.path.c_str(), nullptr);
    if (ownMp3) SetMp3ReaderTable(src, fe->mp3Table);
    // Planes and 16-bit samples are let through: the cut makes them
    // interleaved floats as it copies, a pass less over every sample.
    gsth::Caps f32 = gsth::Caps::Adopt(
        gst_caps_from_string("audio/x-raw,format=F32LE; audio/x-raw,format=S16LE,layout=interleaved"));
    g_object_set(floats, "caps", f32.get(), nullptr);
    gst_bin_add_many(bin, src, convert, floats, queue, nullptr);
    if (parse) gst_bin_add(bin, parse);
    if (!gst_element_link(src, parse ? parse : convert) || !gst_element_link_many(convert, floats, queue, nullptr))
        return Result(E_FAIL, "The front end could not be assembled.");

    fe->bin = GST_ELEMENT(bin);
    fe->convert = convert;
    fe->floats = floats;
    fe->queue = queue;
    gsth::Pad floatSrc = gsth::Pad::Adopt(gst_element_get_static_pad(floats, "src"));
    gsth::Pad queueSink = gsth::Pad::Adopt(gst_element_get_static_pad(queue, "sink"));
    fe->floatSrc = floatSrc.get();    // the pads live as long as their elements
    fe->queueSink = queueSink.get();
    gst_segment_init(&fe->inSegment, GST_FORMAT_TIME);

    if (parse) {
        g_signal_connect(parse, "autoplug-continue", G_CALLBACK(&ParseOnlySound), nullptr);
        g_signal_connect_data(parse, "pad-added", G_CALLBACK(&OnPadAdded), NewRef(fe), &DeleteRefClosure,
                              GConnectFlags(0));
        g_signal_connect_data(parse, "pad-removed", G_CALLBACK(&OnPadRemoved), NewRef(fe), &DeleteRefClosure,
                              GConnectFlags(0));
    } else {
        // The reader puts out every decoded sample, the stated delay included.
        fe->sawAudio = fe->linked = true;
        fe->statedLeading = fe->mp3->LeadingSamples();
    }
    gsth::Pad convertSink = gsth::Pad::Adopt(gst_element_get_static_pad(convert, "sink"));
    gst_pad_add_probe(convertSink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &RefuseTooManyChannels, NewRef(fe),
                      &DeleteRef);
    // Ahead of the probes below: they see what it makes.
    gst_pad_add_probe(fe->floatSrc, GST_PAD_PROBE_TYPE_BUFFER, &CompactPlanes, nullptr, nullptr);
    fe->blockId = gst_pad_add_probe(
        fe->floatSrc, GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &HoldFirstBuffer, NewRef(fe), &DeleteRef);
    gst_pad_add_probe(fe->floatSrc,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      &CutSelection, NewRef(fe), &DeleteRef);
    return Result(S_OK);
}

// Containers whose seeks land on the exact sample (their indexes count
// samples), so that spans decoded apart join without a seam. An MP3 joins
// exactly only through our reader, which finds its frames itself.
bool SeeksToTheSample(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    guint8 head[4096];
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    gsth::Caps caps = gsth::Caps::Adopt(gst_type_find_helper_for_data(nullptr, head, got, nullptr));
    if (!caps || gst_caps_is_empty(caps.get())) return false;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    for (const char* exact : {"application/ogg", "audio/ogg", "video/ogg", "audio/x-flac", "video/quicktime", "audio/x-m4a"})
        if (std::strcmp(name, exact) == 0) return true;
    return false;
}

// How many branches decode the selection. An MP3 is decoded in spans only by
// our reader, whose decoder comes out the same from any start; the installed
// parser and decoder serve it in one branch (their seeks land near the frame,
// not on it). A file that changes between mono and stereo decodes
// differently from a start in its mono part, so it stays in one branch too.
int BranchesOf(const SourceSpec& spec, bool mp3, const Mp3FrameTable* ownMp3) {
    SpanConditions c;
    c.length = spec.mediaStop - spec.mediaStart;
    c.freeCores = spec.cores;
    c.seeksToTheSample = mp3 ? ownMp3 && !ownMp3->info.channelsVary : SeeksToTheSample(spec.path);
    return BranchesFor(c);
}

}  // namespace

Result BuildGroup(const SourceSpec& spec, std::vector<FrontEndRef>& branchesOut, Filter& filterOut) {
    // An MP3's frames are read once, for every branch's reader: when the file
    // was measured and has not changed since, not even once here.
    std::vector<Mp3FrameRef> frames;
    std::optional<Mp3StreamInfo> mp3;
    if (spec.analysis && spec.analysis->StillDescribes(spec.path)) {
        mp3 = spec.analysis->mp3;
        frames = spec.analysis->mp3Frames;
    } else {
        mp3 = AnalyzeMp3File(spec.path, &frames);
    }
    // A bare MP3 is one sound stream.
    if (mp3 && spec.soundStream > 0) return Result(E_INVALIDARG, NoSoundStreamText(spec.soundStream, 1));
    std::shared_ptr<const Mp3FrameTable> mp3Table = mp3 ? Mp3FrameTableOf(*mp3, std::move(frames)) : nullptr;
    if (mp3Table && !Mp3ReaderAvailable()) mp3Table.reset();
    const int branches = BranchesOf(spec, mp3.has_value(), mp3Table.get());
    gsth::Element bin = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstElement* joiner = nullptr;
    if (branches > 1) {
        joiner = gst_element_factory_make(kSpanJoinerElementName, "joiner");
        if (!joiner) return Result(E_FAIL, "The span joiner is not registered.");
        gst_bin_add(GST_BIN(bin.get()), joiner);
    }
    std::vector<FrontEndRef> all;
    for (int b = 0; b < branches; ++b) {
        auto fe = std::make_shared<GroupFrontEnd>();
        fe->path = spec.path;
        fe->soundStream = spec.soundStream;
        fe->selectionStart = static_cast<GstClockTime>(MediaTimeToNanoseconds(spec.mediaStart));
        fe->length = static_cast<GstClockTime>(MediaTimeToNanoseconds(spec.mediaStop - spec.mediaStart));
        fe->mp3 = mp3;
        fe->mp3Table = mp3Table;
        fe->branch = b;
        fe->branches = branches;
        if (Result r = BuildBranch(GST_BIN(bin.get()), spec, fe); r.failed()) return r;
        fe->joiner = joiner;
        if (joiner && !gst_element_link(fe->queue, joiner)) return Result(E_FAIL, "The front end could not be assembled.");
        all.push_back(std::move(fe));
    }
    GstElement* last = joiner ? joiner : all.front()->queue;
    gsth::Pad out = gsth::Pad::Adopt(gst_element_get_static_pad(last, "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", out.get()));
    filterOut = WrapElement(std::move(bin));
    branchesOut = std::move(all);
    return Result(S_OK);
}

}  // namespace veltrano
