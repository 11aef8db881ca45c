#pragma once
// The timeline of a conversion: groups holding tracks holding sources. It
// only describes the work (which file, which stretch of it, where in the
// output); the render engine turns it into a graph.

#include "core/MediaTime.h"
#include "core/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrano {

enum TimelineMajorType : int {
    TIMELINE_MAJOR_TYPE_TRACK = 2,
    TIMELINE_MAJOR_TYPE_SOURCE = 4,
    TIMELINE_MAJOR_TYPE_GROUP = 128,
};

enum class MajorType { None, Audio, Video };

// The media type a group is given: only its major type matters here.
struct AmMediaType {
    MajorType majortype = MajorType::None;
    bool bFixedSizeSamples = true;
    bool bTemporalCompression = false;
    std::uint32_t lSampleSize = 1;
};

// Flags of ValidateSourceNames.
inline constexpr int SFN_VALIDATEF_CHECK = 0x1;
inline constexpr int SFN_VALIDATEF_POPUP = 0x2;
inline constexpr int SFN_VALIDATEF_REPLACE = 0x8;

// A node of the timeline. What a node offers depends on its type; asking a
// node for what its type does not offer answers E_NOINTERFACE.
class TimelineObj : public std::enable_shared_from_this<TimelineObj> {
public:
    explicit TimelineObj(TimelineMajorType type) : type_(type) {}
    TimelineMajorType type() const { return type_; }

    // Every node: its place in the output's time.
    Result SetStartStop(MediaTime start, MediaTime stop);
    Result GetStartStop(MediaTime& start, MediaTime& stop) const;

    // Groups.
    Result SetMediaType(const AmMediaType& mt);
    Result GetMediaType(AmMediaType& mt) const;
    Result SetPreviewMode(bool preview);
    Result GetPreviewMode(bool& preview) const;
    // priority -1 puts the track after the existing ones.
    Result VTrackInsBefore(const std::shared_ptr<TimelineObj>& track, int priority);
    Result GetTracks(std::vector<std::shared_ptr<TimelineObj>>& tracks) const;

    // Tracks.
    Result SrcAdd(const std::shared_ptr<TimelineObj>& source);
    Result GetSources(std::vector<std::shared_ptr<TimelineObj>>& sources) const;

    // Sources: the stretch of the media, in the media's own time, and its file.
    Result SetMediaTimes(MediaTime start, MediaTime stop);
    Result GetMediaTimes(MediaTime& start, MediaTime& stop) const;
    Result SetMediaName(const std::string& name);
    Result GetMediaName(std::string& name) const;

private:
    TimelineMajorType type_;
    MediaTime start_ = 0, stop_ = 0;
    AmMediaType mediaType_;
    bool previewMode_ = true;  // groups render in preview mode until told otherwise
    bool mediaTypeSet_ = false;
    std::vector<std::shared_ptr<TimelineObj>> children_;
    MediaTime mediaStart_ = 0, mediaStop_ = 0;
    bool mediaTimesSet_ = false;
    std::string mediaName_;
};

class Timeline {
public:
    Result CreateEmptyNode(std::shared_ptr<TimelineObj>& node, TimelineMajorType type);
    // Only groups with a media type are added.
    Result AddGroup(const std::shared_ptr<TimelineObj>& group);
    Result GetGroupCount(long& count) const;
    Result GetGroup(std::shared_ptr<TimelineObj>& group, long index) const;

    // Checks that every source's media can still be read. With
    // SFN_VALIDATEF_POPUP each missing one is reported through 'report'.
    Result ValidateSourceNames(int flags, const std::function<void(const std::string&)>& report = {}) const;

private:
    std::vector<std::shared_ptr<TimelineObj>> groups_;
};

// Every source of a group, track by track in their order.
std::vector<std::shared_ptr<TimelineObj>> SourcesOfGroup(const TimelineObj& group);

// The text a missing source is reported with.
std::string MissingSourceText(const std::string& name);

}  // namespace veltrano
