#pragma once
// The preview player: a top-level window of its own with a playback graph of
// its own. The main dialog creates one for an opened file, drives it with its
// Play, Pause and Stop buttons and its trackbar, reads its positions after each
// tick it posts, and deletes it when the media is closed.

#include "ui/Desktop.h"
#include "core/FixedText.h"
#include "core/MediaTime.h"
#include "media/PlaybackGraph.h"
#include "core/Result.h"
#include "ui/UiServices.h"

#include <QEvent>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QEvent;
class QMenu;

namespace veltrano {

class PlayerWindow;

enum PlayState : int { Stopped = 0, Paused = 1, Running = 2, NoMedia = 3 };

// The dialog's hidden Close button: the player asks for it when its window is
// to be closed.
inline constexpr int kCloseMediaCommand = 1056;
inline constexpr int kPositionTimerMs = 1000;
inline constexpr int kCursorTimerMs = 50000;
// Mouse idle time in full screen after which the cursor is hidden.
inline constexpr std::uint32_t kCursorIdleMs = 100000;

inline constexpr const char* kCannotPlayText =
    "Cannot play the file.  The file is either corrupt or\n"
    "the player does not support the format you are trying to play.\n"
    "You need to install appropriate decoders.";

// Posted to the dialog when an opening begun by OpenMedia has ended.
inline constexpr int kPreviewOpenedEventType = QEvent::User + 4;

class PreviewOpenedEvent final : public QEvent {
public:
    PreviewOpenedEvent(std::uint64_t playerSerial, bool isOpen)
        : QEvent(static_cast<QEvent::Type>(kPreviewOpenedEventType)), serial(playerSerial), opened(isOpen) {}
    const std::uint64_t serial;  // the player's serial()
    const bool opened;           // false: the failure has been shown and CloseMedia has run
};

// The detail under "Cannot play the file.": which file, and why.
std::string CannotPlayDetail(std::string_view path, std::string_view reason);

class PreviewPlayer {
public:
    // boxes: where failures are shown; hwndDialog: the main dialog, target of
    // the posted ticks and commands, whose place decides the player's.
    PreviewPlayer(IMessageBoxes& boxes, QWidget* hwndDialog);
    // Releases nothing: whoever deletes an open player calls CloseMedia first.
    virtual ~PreviewPlayer();
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // ---- fields ----
    QPointer<QWidget> m_hwndDialog;
    // No module handle: the window, its icon and its menu are built in code.
    // The failures' message boxes come through this seam instead.
    IMessageBoxes& m_boxes;
    char m_szFileName[kMaxPath] = {};
    std::int32_t m_bAudioOnly = 0;
    std::int32_t m_bFullScreen = 0;
    PlayState m_ePlayState = NoMedia;
    std::shared_ptr<VideoWindow> pVW;
    std::int32_t m_bVideoShown = 0;
    std::shared_ptr<BasicVideo> pBV;
    std::shared_ptr<PlaybackGraph> pGB;
    std::shared_ptr<PlaybackControl> pMC;
    std::shared_ptr<GraphEvents> pME;
    std::shared_ptr<BasicAudio> pBA;
    std::shared_ptr<MediaSeeking> pMS;
    PlayerWindow* m_hWnd = nullptr;
    bool m_bWindowCreated = false;
    std::uint32_t m_dwLastActivity = 0;
    std::int32_t m_nCursorCount = 0;
    QRect m_rcNormal;
    MediaTime m_rtCurrentPosition = 0;
    MediaTime m_rtStopPosition = 0;
    std::int32_t m_bHideDialogOnClick = 1;
    // The normal style; the window's visibility on leaving full screen
    // follows m_bVideoShown.
    Qt::WindowFlags m_lNormalStyle;

    // ---- called by the main dialog ----
    // Opens m_szFileName (UTF-8, up to 259 bytes), once per player. The file
    // is cued without waiting: true while that goes on, and the dialog hears
    // the outcome as a PreviewOpenedEvent; false when the opening failed at
    // once (the message has been shown and CloseMedia has run; nothing follows).
    bool OpenMedia();
    bool Opening() const { return m_bOpening; }
    // Tells this player's PreviewOpenedEvent from an earlier player's.
    std::uint64_t serial() const { return m_nSerial; }
    void CloseMedia();
    void StartPlayback();
    void PausePlayback();
    void StopPlayback();
    // Absolute seek; a negative position seeks to 0. The play state stays.
    Result SeekTo(MediaTime position);
    // A video opens straight in full screen (the "Setup" entry g_bFullscreen).
    // Must be set before OpenMedia; an audio-only file ignores it.
    void SetStartInFullScreen(bool on) { m_bStartInFullScreen = on; }

    // ---- the window and the graph ----
    void CreatePlayerWindow();
    void DestroyPlayerWindow();
    void ReleaseGraph();
    void DetectAudioOnly();
    void UpdateTitle();
    void RefreshPositions();
    void ProcessGraphEvents();
    void ShowPlayerMenu(int x, int y);
    void UpdateMenuItems(QMenu& popup) const;
    void ReportFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The window procedure: true when the event is fully handled here.
    bool PlayerWindowProc(PlayerWindow* hwnd, QEvent* event);
    // A menu command arriving at the window.
    void OnPlayerCommand(int commandId);

    // ---- sizing and full screen ----
    // report: a failing placement of the picture shows its own message.
    Result InitVideoWindow(int multiplier, int divider, bool report = true);
    bool SwitchFullScreen();
    bool EnterFullScreen();
    bool LeaveFullScreen();
    void SetCursorVisible(bool shown);
    void ToggleDialogZOrder();
    void OnCursorTimer();
    void OnMouseActivity();

private:
    // The cueing has told something: the opening goes on once it has ended.
    void ContinueOpen();
    bool FinishOpen();
    void ReportCannotPlay(const Result& why);
    bool QueryGraphInterfaces();
    bool FailOpen();
    // Puts the picture where the window's current style wants it.
    void FitVideoToWindow();
    void PostToDialog(QEvent* event);

    bool m_bStartInFullScreen = false;
    bool m_bOpening = false;  // the file is being cued
    std::uint64_t m_nSerial = 0;
    // The frame around m_rcNormal, to give back the same client area.
    FrameMetrics m_normalFrame;
};

// The caption's name of a path: the part after its last '/', or the whole.
std::string BareFileName(std::string_view path);

// The one current player, null when there is none. The main dialog owns it.
extern PreviewPlayer* g_pPreviewPlayer;
// In normal size, true when the next left click on the player puts the main
// dialog back among the normal windows and raises the player; false when it
// makes the dialog float on top. Keeps its value from one player to the next.
extern int g_bRaisePlayerOnClick;

}  // namespace veltrano
