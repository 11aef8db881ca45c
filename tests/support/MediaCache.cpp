#include "tests/support/MediaCache.h"

#include "media/GstHandles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

namespace veltrano::test {

namespace {

QTemporaryDir& Folder() {
    static QTemporaryDir dir;
    return dir;
}

std::string PathOf(const std::string& name) { return Folder().filePath(QString::fromStdString(name)).toStdString(); }

// Generates a file once; a generator that fails fails the test that asked.
template <typename Make>
std::string Cached(const std::string& name, Make make) {
    static std::map<std::string, std::string> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    const std::string path = PathOf(name);
    std::string error;
    if (!make(path, error)) {
        ADD_FAILURE() << "cannot make test media " << name << ": " << error;
        return path;
    }
    made[name] = path;
    return path;
}

}  // namespace

std::string CachedTone(AudioKind kind, double seconds) {
    char name[64];
    std::snprintf(name, sizeof name, "tone_%.2f%s", seconds, ExtensionOf(kind));
    return Cached(name, [&](const std::string& path, std::string& error) {
        return MakeToneFile(path, kind, seconds, 48000, 2, 440.0, &error);
    });
}

std::string CachedVideo(int width, int height, double seconds, bool withAudio) {
    char name[64];
    std::snprintf(name, sizeof name, "video_%dx%d_%.2f%s.mp4", width, height, seconds, withAudio ? "" : "_silent");
    return Cached(name, [&](const std::string& path, std::string& error) {
        VideoSpec spec;
        spec.width = width;
        spec.height = height;
        spec.seconds = seconds;
        spec.withAudio = withAudio;
        return MakeVideo(path, spec, &error);
    });
}

std::string CachedZeroByteFile() {
    return Cached("empty.mp3", [](const std::string& path, std::string&) { return MakeZeroByteFile(path); });
}

std::string CachedTextFileNamedMp3() {
    return Cached("text.mp3", [](const std::string& path, std::string&) { return MakeTextFile(path); });
}

std::string CachedTruncatedVideo() {
    const std::string whole = CachedVideo(320, 240, 1.0, true);
    return Cached("truncated.mp4",
                  [&](const std::string& path, std::string&) { return MakeTruncatedCopy(whole, path, 3000); });
}

std::string CachedSubtitleOnlyFile() {
    return Cached("subtitles.mkv", [](const std::string& path, std::string& error) {
        const std::string srt = path + ".srt";
        {
            std::ofstream out(srt);
            out << "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:01,600 --> 00:00:02,000\nBye\n";
        }
        EnsureGstInitialized();
        const std::string description =
            "filesrc location=\"" + srt + "\" ! subparse ! matroskamux ! filesink location=\"" + path + "\"";
        gsth::Error err;
        GstElement* launched = gst_parse_launch(description.c_str(), err.out());
        gsth::Element pipeline =
            launched ? gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(launched))) : gsth::Element();
        if (!pipeline) {
            error = err ? err->message : "parse failed";
            return false;
        }
        gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline.get()));
        gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
            bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        const bool ok = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
        if (!ok) error = "the subtitle file was not written";
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return ok;
    });
}

std::string MissingFile() { return PathOf("no such file.mp3"); }

}  // namespace veltrano::test
