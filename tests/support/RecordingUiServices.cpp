#include "tests/support/RecordingUiServices.h"

namespace veltrano {

BoxAnswer RecordingMessageBoxes::Show(const BoxRequest& request) {
    shown_.push_back(request);
    if (onShow_) onShow_(request);
    if (!answers_.empty()) {
        const BoxAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    switch (request.buttons) {
    case BoxButtons::YesNo:
    case BoxButtons::YesNoCancel: return defaultYes_ ? BoxAnswer::Yes : BoxAnswer::No;
    default: return BoxAnswer::Ok;
    }
}

std::vector<std::string> RecordingMessageBoxes::texts() const {
    std::vector<std::string> out;
    out.reserve(shown_.size());
    for (const BoxRequest& r : shown_) out.push_back(r.text);
    return out;
}

std::optional<std::string> RecordingFileDialogs::GetOpenFileName(const OpenFileRequest& request) {
    openRequests_.push_back(request);
    if (openAnswers_.empty()) return std::nullopt;
    auto a = std::move(openAnswers_.front());
    openAnswers_.pop_front();
    return a;
}

std::optional<std::string> RecordingFileDialogs::GetSaveFileName(const SaveFileRequest& request) {
    saveRequests_.push_back(request);
    if (saveAnswers_.empty()) return std::nullopt;
    auto a = std::move(saveAnswers_.front());
    saveAnswers_.pop_front();
    return a;
}

}  // namespace veltrano
