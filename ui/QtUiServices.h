#pragma once
// The real user-interface services over Qt: QMessageBox, QFileDialog and
// QDesktopServices.

#include "ui/UiServices.h"

#include <QPointer>
#include <QWidget>

namespace veltrano {

class QtMessageBoxes final : public IMessageBoxes {
public:
    explicit QtMessageBoxes(std::string applicationName) : applicationName_(std::move(applicationName)) {}
    // The window that owns application and dialog-owned boxes.
    void SetOwner(QWidget* owner) { owner_ = owner; }
    BoxAnswer Show(const BoxRequest& request) override;
    std::string ApplicationName() const override { return applicationName_; }

private:
    std::string applicationName_;
    QPointer<QWidget> owner_;
};

class QtFileDialogs final : public IFileDialogs {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    std::optional<std::string> GetOpenFileName(const OpenFileRequest& request) override;
    std::optional<std::string> GetSaveFileName(const SaveFileRequest& request) override;

private:
    QPointer<QWidget> owner_;
};

class QtHelpLauncher final : public IHelpLauncher {
public:
    bool Open(const std::string& url) override;
};

// Qt's name-filter text for one of our filters: the description as shown and
// its patterns in Qt's space-separated form. "*.*" stands for every file, as
// it does on the desktop the filters were written for.
QString QtNameFilter(const FileFilter& filter);

}  // namespace veltrano
