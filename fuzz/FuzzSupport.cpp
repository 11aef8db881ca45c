#include "fuzz/FuzzSupport.h"

#include "media/GstHandles.h"
#include "media/MediaSystem.h"

#include <sanitizer/lsan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// Leak checking starts with the program: what the libraries' constructors
// allocate is theirs. GLib's makes the first block of its quark table and
// drops it unfreed when the table grows (lock-free readers may still hold
// it); with the fast unwinder, which stops in GLib's frames, no suppression
// can tell that block from a leak of ours, and the slow one cuts the
// fuzzers' speed by four. Functions of .preinit_array run before any
// library's constructor, ours after all of them.
namespace {
void IgnoreLibraryConstructors() { __lsan_disable(); }
[[gnu::section(".preinit_array"), gnu::used]] void (*const kBeforeLibraries)() = &IgnoreLibraryConstructors;
[[gnu::constructor]] void CheckFromHere() { __lsan_enable(); }
}  // namespace

namespace veltrano::fuzz {

namespace {

// Longer than any input takes (a few milliseconds); only a stuck graph gets there.
constexpr GstClockTime kHangLimit = 8 * GST_SECOND;

std::string& Folder() {
    static std::string folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ignored;
    if (!Folder().empty()) std::filesystem::remove_all(Folder(), ignored);
}

void AbortOnCritical(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    g_log_default_handler(domain, level, message, data);
    if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) std::abort();
}

}  // namespace

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

void StartMedia() {
    // Quiet: the inputs are damaged on purpose, and the logs would only slow the runs.
    setenv("GST_DEBUG", "0", 0);
    // A critical warning is a call our code should not have made: a finding,
    // reported by an abort that the fuzzer catches (GLib's own fatal
    // criticals raise SIGTRAP, which it does not).
    g_log_set_default_handler(&AbortOnCritical, nullptr);
    Check(InitializeMedia().succeeded(), "the media system starts");
}

std::string TempPath(const char* name) {
    if (Folder().empty()) {
        char pattern[] = "/tmp/veltrano-fuzz-XXXXXX";
        Check(mkdtemp(pattern) != nullptr, "a temporary folder can be made");
        Folder() = pattern;
        std::atexit(&RemoveFolder);
    }
    return Folder() + "/" + name;
}

std::string WriteInputFile(const std::uint8_t* data, std::size_t size, const char* name) {
    const std::string path = TempPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    Check(out.good(), "the input file is written");
    return path;
}

namespace {
// The next of these messages; aborts on a hang.
gsth::Message NextOf(GstElement* pipeline, GstMessageType types) {
    const auto bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline));
    auto message = gsth::Message::Adopt(gst_bus_timed_pop_filtered(bus.get(), kHangLimit, types));
    // Where it stands, in GST_DEBUG_DUMP_DOT_DIR when that is set.
    if (!message) GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(pipeline), GST_DEBUG_GRAPH_SHOW_ALL, "veltrano-fuzz-hang");
    Check(static_cast<bool>(message), "the graph answers in time");
    return message;
}
}  // namespace

bool Preroll(GstElement* pipeline) {
    if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return false;
    const auto m = NextOf(pipeline, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
    return GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_ASYNC_DONE;
}

bool SeekTo(GstElement* pipeline, GstClockTime position) {
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek_simple(pipeline, GST_FORMAT_TIME, flags, static_cast<gint64>(position))) return false;
    const auto m = NextOf(pipeline, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
    return GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_ASYNC_DONE;
}

RunEnd RunToEnd(GstElement* pipeline) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const auto message = NextOf(pipeline, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS ? RunEnd::Eos : RunEnd::Error;
}

}  // namespace veltrano::fuzz
