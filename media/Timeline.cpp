#include "media/Timeline.h"

#include <unistd.h>

#include <sys/stat.h>

namespace veltrano {

namespace {
Result NoInterface() { return Result(E_NOINTERFACE); }
}  // namespace

Result TimelineObj::SetStartStop(MediaTime start, MediaTime stop) {
    if (stop < start) return Result(E_INVALIDARG, "The stop time lies before the start time.");
    start_ = start;
    stop_ = stop;
    return Result(S_OK);
}

Result TimelineObj::GetStartStop(MediaTime& start, MediaTime& stop) const {
    start = start_;
    stop = stop_;
    return Result(S_OK);
}

Result TimelineObj::SetMediaType(const AmMediaType& mt) {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    if (mt.majortype == MajorType::None) return Result(E_INVALIDARG, "A group needs a major media type.");
    mediaType_ = mt;
    mediaTypeSet_ = true;
    return Result(S_OK);
}

Result TimelineObj::GetMediaType(AmMediaType& mt) const {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    if (!mediaTypeSet_) return Result(E_UNEXPECTED, "The group has no media type.");
    mt = mediaType_;
    return Result(S_OK);
}

Result TimelineObj::SetPreviewMode(bool preview) {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    previewMode_ = preview;
    return Result(S_OK);
}

Result TimelineObj::GetPreviewMode(bool& preview) const {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    preview = previewMode_;
    return Result(S_OK);
}

Result TimelineObj::VTrackInsBefore(const std::shared_ptr<TimelineObj>& track, int priority) {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    if (!track || track->type() != TIMELINE_MAJOR_TYPE_TRACK) return Result(E_INVALIDARG);
    if (priority < 0 || static_cast<std::size_t>(priority) >= children_.size()) children_.push_back(track);
    else children_.insert(children_.begin() + priority, track);
    return Result(S_OK);
}

Result TimelineObj::GetTracks(std::vector<std::shared_ptr<TimelineObj>>& tracks) const {
    if (type_ != TIMELINE_MAJOR_TYPE_GROUP) return NoInterface();
    tracks = children_;
    return Result(S_OK);
}

Result TimelineObj::SrcAdd(const std::shared_ptr<TimelineObj>& source) {
    if (type_ != TIMELINE_MAJOR_TYPE_TRACK) return NoInterface();
    if (!source || source->type() != TIMELINE_MAJOR_TYPE_SOURCE) return Result(E_INVALIDARG);
    children_.push_back(source);
    return Result(S_OK);
}

Result TimelineObj::GetSources(std::vector<std::shared_ptr<TimelineObj>>& sources) const {
    if (type_ != TIMELINE_MAJOR_TYPE_TRACK) return NoInterface();
    sources = children_;
    return Result(S_OK);
}

Result TimelineObj::SetMediaTimes(MediaTime start, MediaTime stop) {
    if (type_ != TIMELINE_MAJOR_TYPE_SOURCE) return NoInterface();
    if (start < 0 || stop <= start) return Result(E_INVALIDARG, "The media times do not make a stretch.");
    mediaStart_ = start;
    mediaStop_ = stop;
    mediaTimesSet_ = true;
    return Result(S_OK);
}

Result TimelineObj::GetMediaTimes(MediaTime& start, MediaTime& stop) const {
    if (type_ != TIMELINE_MAJOR_TYPE_SOURCE) return NoInterface();
    start = mediaStart_;
    stop = mediaStop_;
    return mediaTimesSet_ ? Result(S_OK) : Result(E_UNEXPECTED, "The source has no media times.");
}

Result TimelineObj::SetMediaName(const std::string& name) {
    if (type_ != TIMELINE_MAJOR_TYPE_SOURCE) return NoInterface();
    if (name.empty()) return Result(E_INVALIDARG, "A source needs a media name.");
    mediaName_ = name;
    return Result(S_OK);
}

Result TimelineObj::GetMediaName(std::string& name) const {
    if (type_ != TIMELINE_MAJOR_TYPE_SOURCE) return NoInterface();
    name = mediaName_;
    return Result(S_OK);
}

Result Timeline::CreateEmptyNode(std::shared_ptr<TimelineObj>& node, TimelineMajorType type) {
    if (type != TIMELINE_MAJOR_TYPE_GROUP && type != TIMELINE_MAJOR_TYPE_TRACK && type != TIMELINE_MAJOR_TYPE_SOURCE)
        return Result(E_INVALIDARG);
    node = std::make_shared<TimelineObj>(type);
    return Result(S_OK);
}

Result Timeline::AddGroup(const std::shared_ptr<TimelineObj>& group) {
    AmMediaType mt;
    if (!group || group->type() != TIMELINE_MAJOR_TYPE_GROUP || group->GetMediaType(mt).failed())
        return Result(E_INVALIDARG, "Only a group with a media type can be added.");
    groups_.push_back(group);
    return Result(S_OK);
}

Result Timeline::GetGroupCount(long& count) const {
    count = static_cast<long>(groups_.size());
    return Result(S_OK);
}

Result Timeline::GetGroup(std::shared_ptr<TimelineObj>& group, long index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= groups_.size()) return Result(E_INVALIDARG);
    group = groups_[static_cast<std::size_t>(index)];
    return Result(S_OK);
}

std::string MissingSourceText(const std::string& name) {
    return "The media file " + name + " can no longer be read.";
}

Result Timeline::ValidateSourceNames(int flags, const std::function<void(const std::string&)>& report) const {
    if (!(flags & SFN_VALIDATEF_CHECK)) return Result(S_OK);
    Result result(S_OK);
    for (const auto& group : groups_) {
        for (const auto& source : SourcesOfGroup(*group)) {
            std::string name;
            (void)source->GetMediaName(name);  // a source always has a name, empty when unset
            struct stat st {};
            const bool readable =
                ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(name.c_str(), R_OK) == 0;
            if (readable) continue;
            // Nothing can stand in for a lost file here, so REPLACE has no effect.
            result = Result(E_NOTFOUND, MissingSourceText(name));
            if ((flags & SFN_VALIDATEF_POPUP) && report) report(MissingSourceText(name));
        }
    }
    return result;
}

std::vector<std::shared_ptr<TimelineObj>> SourcesOfGroup(const TimelineObj& group) {
    std::vector<std::shared_ptr<TimelineObj>> all, tracks, sources;
    (void)group.GetTracks(tracks);  // a group node always lists its tracks
    for (const auto& track : tracks) {
        sources.clear();
        (void)track->GetSources(sources);
        all.insert(all.end(), sources.begin(), sources.end());
    }
    return all;
}

}  // namespace veltrano
