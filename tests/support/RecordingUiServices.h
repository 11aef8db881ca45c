#pragma once
// Test doubles of the user-interface services: they record every request and
// answer from a script, so tests can check texts, captions, order and buttons.

#include "ui/UiServices.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

class RecordingMessageBoxes final : public IMessageBoxes {
public:
    explicit RecordingMessageBoxes(std::string applicationName = "veltrano")
        : applicationName_(std::move(applicationName)) {}

    BoxAnswer Show(const BoxRequest& request) override;
    std::string ApplicationName() const override { return applicationName_; }

    // Answers given in turn; when none is queued, OK (or Yes for a Yes/No box
    // when defaultYes is set, No otherwise).
    void QueueAnswer(BoxAnswer a) { answers_.push_back(a); }
    void SetDefaultYes(bool yes) { defaultYes_ = yes; }
    // Runs while a box is "up", as the user could act then.
    void OnShow(std::function<void(const BoxRequest&)> f) { onShow_ = std::move(f); }

    const std::vector<BoxRequest>& shown() const { return shown_; }
    std::vector<std::string> texts() const;
    void clear() { shown_.clear(); }

private:
    std::string applicationName_;
    std::vector<BoxRequest> shown_;
    std::deque<BoxAnswer> answers_;
    bool defaultYes_ = false;
    std::function<void(const BoxRequest&)> onShow_;
};

class RecordingFileDialogs final : public IFileDialogs {
public:
    std::optional<std::string> GetOpenFileName(const OpenFileRequest& request) override;
    std::optional<std::string> GetSaveFileName(const SaveFileRequest& request) override;

    // Next answers; nothing queued means the user cancelled.
    void QueueOpenAnswer(std::optional<std::string> a) { openAnswers_.push_back(std::move(a)); }
    void QueueSaveAnswer(std::optional<std::string> a) { saveAnswers_.push_back(std::move(a)); }

    const std::vector<OpenFileRequest>& openRequests() const { return openRequests_; }
    const std::vector<SaveFileRequest>& saveRequests() const { return saveRequests_; }

private:
    std::deque<std::optional<std::string>> openAnswers_, saveAnswers_;
    std::vector<OpenFileRequest> openRequests_;
    std::vector<SaveFileRequest> saveRequests_;
};

class RecordingHelpLauncher final : public IHelpLauncher {
public:
    bool Open(const std::string& url) override {
        urls_.push_back(url);
        return result_;
    }
    void SetResult(bool r) { result_ = r; }
    const std::vector<std::string>& urls() const { return urls_; }

private:
    std::vector<std::string> urls_;
    bool result_ = true;
};

}  // namespace veltrano
