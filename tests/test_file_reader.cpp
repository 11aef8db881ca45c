// The conversion graph's file source: every range a demuxer pulls, small or
// large, inside a read-ahead block or across blocks, comes back byte for byte
// as it is in the file; the end and a missing file are reported as such.

#include "media/elements/FileReader.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace veltrano;

namespace {

class FileReader : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override {
        if (src_) {
            gst_element_set_state(src_, GST_STATE_NULL);
            gst_object_unref(src_);
        }
    }

    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    // Pseudo-random bytes, so that a range from the wrong place cannot match.
    std::vector<std::uint8_t> WriteFile(const std::string& path, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        std::mt19937 gen(11);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

    // The source opened for pulling, as a demuxer drives it.
    GstPad* OpenForPulling(const std::string& path) {
        src_ = gst_element_factory_make(kFileReaderElementName, nullptr);
        if (!src_) return nullptr;
        gst_object_ref_sink(src_);
        g_object_set(src_, "location", path.c_str(), nullptr);
        gst_element_set_state(src_, GST_STATE_READY);
        GstPad* pad = gst_element_get_static_pad(src_, "src");
        pad_ = pad;
        gst_object_unref(pad);  // the element keeps it
        return gst_pad_activate_mode(pad, GST_PAD_MODE_PULL, TRUE) ? pad : nullptr;
    }

    // What a pull of 'size' bytes at 'offset' returned; empty with 'flow' set otherwise.
    std::vector<std::uint8_t> Pull(std::uint64_t offset, unsigned size, GstFlowReturn& flow) {
        GstBuffer* buf = nullptr;
        flow = gst_pad_get_range(pad_, offset, size, &buf);
        std::vector<std::uint8_t> out;
        if (flow != GST_FLOW_OK) return out;
        GstMapInfo map;
        gst_buffer_map(buf, &map, GST_MAP_READ);
        out.assign(map.data, map.data + map.size);
        gst_buffer_unmap(buf, &map);
        gst_buffer_unref(buf);
        return out;
    }

    QTemporaryDir dir_;
    GstElement* src_ = nullptr;
    GstPad* pad_ = nullptr;
};

TEST_F(FileReader, EveryRangeIsTheFilesBytes) {
    // Not a whole number of blocks, so the last block is short.
    const std::size_t size = 3 * 256 * 1024 + 12345;
    const auto bytes = WriteFile(Path("data.bin"), size);
    ASSERT_NE(OpenForPulling(Path("data.bin")), nullptr);

    struct Range {
        std::uint64_t offset;
        unsigned size;
    };
    std::vector<Range> ranges = {
        {0, 16},                    // the first bytes
        {100, 600},                 // inside the block just read
        {256 * 1024 - 10, 40},      // across a block boundary
        {5000, 300 * 1024},         // larger than a block: read straight
        {4000, 8},                  // back again, before the block held now
        {size - 100, 100},          // the very end
        {size - 50, 4096},          // past the end: cut at the end
    };
    std::mt19937 gen(3);
    for (int i = 0; i < 400; ++i)  // a demuxer's pattern: mostly forward, small, with jumps
        ranges.push_back({gen() % size, 1 + static_cast<unsigned>(gen() % (i % 10 == 0 ? 400000 : 3000))});

    for (const Range& r : ranges) {
        GstFlowReturn flow = GST_FLOW_ERROR;
        const auto got = Pull(r.offset, r.size, flow);
        ASSERT_EQ(flow, GST_FLOW_OK) << "at " << r.offset;
        const std::size_t expected = std::min<std::size_t>(r.size, size - r.offset);
        ASSERT_EQ(got.size(), expected) << "at " << r.offset;
        ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + static_cast<std::ptrdiff_t>(r.offset)))
            << "at " << r.offset << " size " << r.size;
    }

    GstFlowReturn flow = GST_FLOW_OK;
    EXPECT_TRUE(Pull(size, 10, flow).empty());
    EXPECT_EQ(flow, GST_FLOW_EOS);
}

// Demuxers derive their stream names from it; the parser orders its streams
// by those names, so without it the file's stream order would be lost.
TEST_F(FileReader, AnswersWithTheFilesUri) {
    WriteFile(Path("named.bin"), 100);
    GstPad* pad = OpenForPulling(Path("named.bin"));
    ASSERT_NE(pad, nullptr);
    GstQuery* query = gst_query_new_uri();
    ASSERT_TRUE(gst_pad_query(pad, query));
    gchar* uri = nullptr;
    gst_query_parse_uri(query, &uri);
    gchar* expected = gst_filename_to_uri(Path("named.bin").c_str(), nullptr);
    EXPECT_STREQ(uri, expected);
    g_free(expected);
    g_free(uri);
    gst_query_unref(query);
}

// The error a pipeline reading 'path' posts as it starts.
GError* StartError(const std::string& path) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* src = gst_element_factory_make(kFileReaderElementName, nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), src, sink, nullptr);
    gst_element_link(src, sink);
    EXPECT_EQ(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, GST_SECOND, GST_MESSAGE_ERROR);
    GError* err = nullptr;
    if (msg) gst_message_parse_error(msg, &err, nullptr);
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return err;
}

TEST_F(FileReader, MissingFileAndFolderAreReported) {
    GError* missing = StartError(Path("gone.bin"));
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(missing->code, GST_RESOURCE_ERROR_NOT_FOUND);
    g_error_free(missing);

    GError* folder = StartError(dir_.path().toStdString());
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(folder->code, GST_RESOURCE_ERROR_OPEN_READ);
    g_error_free(folder);
}

}  // namespace
