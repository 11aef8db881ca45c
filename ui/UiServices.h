#pragma once
// The user-interface services that tests replace: message boxes, the open and
// save file dialogs, and the help viewer. The dialog and the player get them at
// construction; the real ones are in QtUiServices.h, the recording doubles in
// RecordingUiServices.h.

#include <optional>
#include <string>
#include <vector>

namespace veltrano {

enum class BoxKind {
    Application,  // owned by the main dialog, caption = application name
    DialogOwned,  // owned by the main dialog, caption given by the caller
    Ownerless,    // no owner window
};

enum class BoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class BoxIcon { None, Warning, Error, Information, Question };
enum class BoxAnswer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct BoxRequest {
    BoxKind kind = BoxKind::Application;
    std::string caption;
    std::string text;
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
    std::string detail;  // the reason in plain words, shown under the text
};

inline constexpr const char* kOwnerlessCaption = "Veltrano";

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual BoxAnswer Show(const BoxRequest& request) = 0;
    // The caption of application boxes: the executable's name without extension.
    virtual std::string ApplicationName() const = 0;

    // Application box: warning icon, OK, caption the application name.
    BoxAnswer AppBox(const std::string& text, const std::string& detail = {}) {
        return Show({BoxKind::Application, ApplicationName(), text, BoxButtons::Ok, BoxIcon::Warning, detail});
    }
    BoxAnswer DialogBox(const std::string& caption, const std::string& text,
                        BoxButtons buttons = BoxButtons::Ok, BoxIcon icon = BoxIcon::None,
                        const std::string& detail = {}) {
        return Show({BoxKind::DialogOwned, caption, text, buttons, icon, detail});
    }
    BoxAnswer OwnerlessBox(const std::string& text, const std::string& caption = kOwnerlessCaption,
                           BoxIcon icon = BoxIcon::None) {
        return Show({BoxKind::Ownerless, caption, text, BoxButtons::Ok, icon, {}});
    }
};

struct FileFilter {
    std::string description;  // as shown, e.g. "Any Files (*.*)"
    std::string patterns;     // ';'-separated, e.g. "*.mp3; *.wav"
};

struct OpenFileRequest {
    std::string title;
    std::vector<FileFilter> filters;
    int filterIndex = 1;  // 1-based, the selected filter
    std::string initialFolder;
};

struct SaveFileRequest {
    std::string title;
    std::vector<FileFilter> filters;
    int filterIndex = 1;
    std::string initialFolder;
    std::string initialName;
};

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    // The chosen path, or nothing when the dialog was cancelled.
    virtual std::optional<std::string> GetOpenFileName(const OpenFileRequest& request) = 0;
    virtual std::optional<std::string> GetSaveFileName(const SaveFileRequest& request) = 0;
};

class IHelpLauncher {
public:
    virtual ~IHelpLauncher() = default;
    // Opens a help page (a file:// URL); false when nothing could show it.
    virtual bool Open(const std::string& url) = 0;
};

struct UiServices {
    IMessageBoxes* boxes = nullptr;
    IFileDialogs* files = nullptr;
    IHelpLauncher* help = nullptr;
};

}  // namespace veltrano
