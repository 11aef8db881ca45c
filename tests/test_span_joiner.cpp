// The span joiner as GStreamer drives it: spans go out in turn, and once the
// joined stream has ended (a stop ends it while the other input is still
// decoding), whatever an input still sends ends that input as the end, never
// as an error that would fail the conversion.

#include "media/elements/SpanJoiner.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <vector>

using namespace veltrano;

namespace {

// The joiner behind two pads of the test's own, pushed from the test's thread.
class Joiner : public ::testing::Test {
protected:
    void SetUp() override {
        pipeline_ = gst_pipeline_new(nullptr);
        joiner_ = gst_element_factory_make(kSpanJoinerElementName, nullptr);
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        ASSERT_TRUE(joiner_ && sink);
        g_object_set(sink, "sync", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_), joiner_, sink, nullptr);
        ASSERT_TRUE(gst_element_link(joiner_, sink));
        GstPad* out = gst_element_get_static_pad(joiner_, "src");
        gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &CountEnds, &ends_, nullptr);
        gst_object_unref(out);
        ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        for (int i = 0; i < 2; ++i) {
            feeds_[i] = gst_pad_new(nullptr, GST_PAD_SRC);
            gst_pad_set_active(feeds_[i], TRUE);
            inputs_[i] = gst_element_request_pad_simple(joiner_, "sink_%u");
            ASSERT_EQ(gst_pad_link(feeds_[i], inputs_[i]), GST_PAD_LINK_OK);
            ASSERT_TRUE(gst_pad_push_event(feeds_[i], gst_event_new_stream_start("joined")));
            GstCaps* caps = gst_caps_from_string("audio/x-raw,format=F32LE,layout=interleaved,rate=48000,channels=1");
            ASSERT_TRUE(gst_pad_push_event(feeds_[i], gst_event_new_caps(caps)));
            gst_caps_unref(caps);
            GstSegment segment;
            gst_segment_init(&segment, GST_FORMAT_TIME);
            ASSERT_TRUE(gst_pad_push_event(feeds_[i], gst_event_new_segment(&segment)));
        }
    }
    void TearDown() override {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        for (int i = 0; i < 2; ++i) {
            if (inputs_[i]) {
                gst_element_release_request_pad(joiner_, inputs_[i]);
                gst_object_unref(inputs_[i]);
            }
            if (feeds_[i]) gst_object_unref(feeds_[i]);
        }
        gst_object_unref(pipeline_);
    }

    static GstPadProbeReturn CountEnds(GstPad*, GstPadProbeInfo* info, gpointer data) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) ++*static_cast<int*>(data);
        return GST_PAD_PROBE_OK;
    }

    // A buffer of 480 frames; 'last' marks the last of its span.
    GstFlowReturn Push(int input, bool last = false) {
        GstBuffer* buf = gst_buffer_new_allocate(nullptr, 480 * sizeof(float), nullptr);
        gst_buffer_memset(buf, 0, 0, 480 * sizeof(float));
        if (last) GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_MARKER);
        return gst_pad_push(feeds_[input], buf);
    }
    bool Tag(int input) {
        GstTagList* tags = gst_tag_list_new(GST_TAG_TITLE, "Span", nullptr);
        return gst_pad_push_event(feeds_[input], gst_event_new_tag(tags));
    }

    GstElement* pipeline_ = nullptr;
    GstElement* joiner_ = nullptr;
    GstPad* feeds_[2] = {};
    GstPad* inputs_[2] = {};
    int ends_ = 0;
};

TEST_F(Joiner, SpansGoOutInTurnAndTheEndFollowsTheInputWhoseTurnItIs) {
    EXPECT_EQ(Push(0), GST_FLOW_OK);
    EXPECT_TRUE(Tag(0));
    EXPECT_EQ(Push(0, true), GST_FLOW_OK);  // span 0 done: input 1's turn
    // Input 0 ending now is not the end: input 1's span is still to come.
    EXPECT_TRUE(gst_pad_push_event(feeds_[0], gst_event_new_eos()));
    EXPECT_EQ(ends_, 0);
    EXPECT_EQ(Push(1, true), GST_FLOW_OK);
    EXPECT_EQ(ends_, 1);  // back to input 0, which has ended
}

// A stop ends the joined stream while input 0 decodes on: its tags and its
// buffers after the end are the end for it, not an error.
TEST_F(Joiner, WhatAnInputSendsAfterTheEndEndsItQuietly) {
    EXPECT_EQ(Push(0, true), GST_FLOW_OK);
    EXPECT_TRUE(gst_pad_push_event(feeds_[1], gst_event_new_eos()));
    EXPECT_EQ(ends_, 1);
    EXPECT_TRUE(Tag(0));
    EXPECT_EQ(Push(0), GST_FLOW_EOS);
    EXPECT_TRUE(Tag(0));
    EXPECT_EQ(Push(0, true), GST_FLOW_EOS);
    EXPECT_TRUE(gst_pad_push_event(feeds_[0], gst_event_new_eos()));
    EXPECT_EQ(ends_, 1);  // the end goes out once
}

}  // namespace
