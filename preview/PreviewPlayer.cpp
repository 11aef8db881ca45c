#include "preview/PreviewPlayer.h"

#include "ui/Desktop.h"
#include "preview/Logging.h"
#include "ui/WindowMessages.h"
#include "preview/PlayerMenu.h"
#include "preview/PlayerWindow.h"
#include "preview/VideoPlacement.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimerEvent>

#include <cstdarg>
#include <cstdio>

namespace veltrano {

PreviewPlayer* g_pPreviewPlayer = nullptr;
int g_bRaisePlayerOnClick = 1;

namespace {
// The code of a result as the "0x%x" of the failure texts print it.
unsigned Hex(const Result& hr) { return static_cast<unsigned>(hr.code()); }
}  // namespace

std::string BareFileName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

PreviewPlayer::PreviewPlayer(IMessageBoxes& boxes, QWidget* hwndDialog) : m_hwndDialog(hwndDialog), m_boxes(boxes) {}

PreviewPlayer::~PreviewPlayer() {
    // A window left open must not call back into a deleted player.
    if (m_hWnd) m_hWnd->DetachPlayer();
}

void PreviewPlayer::UpdateTitle() {
    if (!m_hWnd) return;
    const std::string name = BareFileName(TextOf(m_szFileName));
    // "%s %s %s" of the name, an empty text and the pause mark: two blanks.
    const std::string caption = name + "  " + (m_ePlayState == Paused ? "(Paused)" : "");
    m_hWnd->setWindowTitle(QString::fromStdString(caption));
}

void PreviewPlayer::ReportFailure(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_boxes.OwnerlessBox(text);
}

// ---- playback ----

void PreviewPlayer::StartPlayback() {
    if (!pMC) return;
    if (m_ePlayState == Stopped || m_ePlayState == Paused) {
        if (pMC->Run().succeeded()) m_ePlayState = Running;
    }
    if (pMS && pMS->SetRate(1.0).succeeded()) UpdateTitle();
}

void PreviewPlayer::PausePlayback() {
    if (!pMC) return;
    if (m_ePlayState == Running && pMC->Pause().succeeded()) m_ePlayState = Paused;
    UpdateTitle();
}

void PreviewPlayer::StopPlayback() {
    if (!pMC || !pMS) return;
    if (m_ePlayState == Paused || m_ePlayState == Running) {
        if (m_hWnd) m_hWnd->m_cursorTimer.stop();
        // Rewind and cue; a graph that refuses shows it on the next command.
        (void)pMC->Stop();
        m_ePlayState = Stopped;
        (void)pMS->SetPositions(0);
        (void)pMC->Pause();  // cued on the first frame; the state stays Stopped
    }
    UpdateTitle();
}

Result PreviewPlayer::SeekTo(MediaTime position) {
    if (!pMS) return Result(S_OK);
    if (pMS->IsFormatSupported(TimeFormat::Media) != S_OK) return Result(E_NOINTERFACE);
    TimeFormat saved = TimeFormat::Media;
    if (Result hr = pMS->GetTimeFormat(saved); hr.failed()) return hr;
    if (Result hr = pMS->SetTimeFormat(TimeFormat::Media); hr.failed()) return hr;
    if (position < 0) position = 0;
    const Result hr = pMS->SetPositions(position);
    if (hr.failed()) return hr;
    if (saved != TimeFormat::Media) return pMS->SetTimeFormat(saved);
    return hr;
}

void PreviewPlayer::RefreshPositions() {
    if (!pMS) return;
    if (pMS->IsFormatSupported(TimeFormat::Media) != S_OK) return;
    TimeFormat saved = TimeFormat::Media;
    if (pMS->GetTimeFormat(saved).failed()) return;
    if (pMS->SetTimeFormat(TimeFormat::Media).failed()) return;
    if (pMS->GetStopPosition(m_rtStopPosition).failed()) return;
    if (pMS->GetCurrentPosition(m_rtCurrentPosition).failed()) return;
    if (saved != TimeFormat::Media && pMS->SetTimeFormat(saved).failed()) return;
    PostToDialog(new QEvent(static_cast<QEvent::Type>(kPlayerTickEventType)));
}

void PreviewPlayer::ProcessGraphEvents() {
    if (!pME) return;
    GraphEvent event;
    while (pME->GetEvent(event, 0).succeeded()) {
        const long code = event.code;
        if (code == EC_ERRORABORT)
            qCWarning(lcPreview) << "playback stopped by" << event.source.c_str() << ":" << event.text.c_str();
        (void)pME->FreeEventParams(event);  // the event is a value; freeing cannot fail
        // An aborted graph plays no more: it is stopped and rewound like a
        // finished one, so the state does not claim it is running.
        if (code == EC_COMPLETE || code == EC_ERRORABORT) StopPlayback();
    }
}

void PreviewPlayer::PostToDialog(QEvent* event) {
    if (m_hwndDialog) {
        QCoreApplication::postEvent(m_hwndDialog, event);
        return;
    }
    delete event;  // the dialog no longer exists
}

// ---- the window procedure and the menu ----

bool PreviewPlayer::PlayerWindowProc(PlayerWindow* hwnd, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        if (m_bVideoShown && pVW) FitVideoToWindow();
        return false;
    case QEvent::Close:
        // The window is not closed here: the dialog closes the media.
        event->ignore();
        PostToDialog(new CommandEvent(kCloseMediaCommand));
        return true;
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Escape || key->isAutoRepeat()) return false;
        if (m_bFullScreen) LeaveFullScreen();
        return true;
    }
    case QEvent::Timer: {
        const int id = static_cast<QTimerEvent*>(event)->timerId();
        if (id == hwnd->m_positionTimer.timerId()) {
            RefreshPositions();
            return true;
        }
        if (id == hwnd->m_cursorTimer.timerId()) {
            OnCursorTimer();
            return true;
        }
        return false;
    }
    case QEvent::MouseMove:
        OnMouseActivity();
        return false;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        OnMouseActivity();
        if (mouse->button() == Qt::LeftButton) {
            ToggleDialogZOrder();
            return true;
        }
        if (mouse->button() == Qt::RightButton) {
            const QPoint at = mouse->position().toPoint();
            ShowPlayerMenu(at.x(), at.y());
            m_bHideDialogOnClick = 1;
            return true;
        }
        return false;
    }
    default:
        break;
    }
    const int type = static_cast<int>(event->type());
    if (type == kGraphNotifyEventType) {
        if (m_bOpening) ContinueOpen();
        else ProcessGraphEvents();
        return true;
    }
    if (type == kCommandEventType) {
        OnPlayerCommand(static_cast<CommandEvent*>(event)->id());
        return true;
    }
    // Owner messages (palette, display mode) mean nothing to the surface.
    return false;
}

void PreviewPlayer::OnPlayerCommand(int commandId) {
    switch (commandId) {
    case ID_PREVIEW_FULLSCREEN: SwitchFullScreen(); break;
    case ID_PREVIEW_NORMALSIZE: (void)InitVideoWindow(1, 1); break;  // the window keeps its size on failure
    case ID_PREVIEW_PLAY: StartPlayback(); break;
    case ID_PREVIEW_PAUSE: PausePlayback(); break;
    case ID_PREVIEW_STOP: StopPlayback(); break;
    case ID_PREVIEW_CLOSE:
        if (m_hWnd) m_hWnd->close();  // reaches the dialog as its Close command
        break;
    default: break;
    }
}

void PreviewPlayer::ShowPlayerMenu(int x, int y) {
    if (!m_hWnd) return;
    // The menu is built in code, so it cannot fail to load ("error" box).
    QMenu* popup = LoadPlayerMenu(m_hWnd);
    popup->setAttribute(Qt::WA_DeleteOnClose);  // loaded afresh for every showing
    UpdateMenuItems(*popup);
    // Input over the picture reaches the window in its own client
    // coordinates, so in either size the window maps the point to the screen.
    const QPoint screenPoint = m_hWnd->mapToGlobal(QPoint(x, y));
    // The chosen command arrives at the window as a posted command, as a
    // menu's command would; nothing runs here after the menu closes.
    QPointer<PlayerWindow> window = m_hWnd;
    QObject::connect(popup, &QMenu::triggered, popup, [window](QAction* action) {
        if (window) QCoreApplication::postEvent(window, new CommandEvent(action->data().toInt()));
    });
    popup->popup(screenPoint);
}

void PreviewPlayer::UpdateMenuItems(QMenu& popup) const {
    if (QAction* full = MenuItem(popup, ID_PREVIEW_FULLSCREEN)) {
        full->setCheckable(m_bFullScreen != 0);
        full->setChecked(m_bFullScreen != 0);
    }
    QAction* play = MenuItem(popup, ID_PREVIEW_PLAY);
    QAction* pause = MenuItem(popup, ID_PREVIEW_PAUSE);
    QAction* stop = MenuItem(popup, ID_PREVIEW_STOP);
    if (!play || !pause || !stop) return;
    play->setEnabled(m_ePlayState != Running);
    pause->setEnabled(m_ePlayState == Running);
    stop->setEnabled(m_ePlayState != Stopped);
}

// ---- sizing and full screen ----

Result PreviewPlayer::InitVideoWindow(int multiplier, int divider, bool report) {
    if (m_bFullScreen && m_bVideoShown) LeaveFullScreen();
    int width = 0, height = 0;
    if (!pBV || !m_hWnd || pBV->GetVideoSize(width, height).failed()) return Result(S_OK);
    if (divider == 0) return Result(E_INVALIDARG);
    const QSize outer = NormalWindowSize(width, height, multiplier, divider, FrameMetricsOf(*m_hWnd));
    SetFixedWindowRect(*m_hWnd, QRect(m_hWnd->frameGeometry().topLeft(), outer));
    const QRect rect = m_hWnd->rect();
    const Result hr = pVW->SetWindowPosition(rect.left(), rect.top(), rect.width(), rect.height());
    if (hr.failed() && report)
        ReportFailure("FAILED(hr=0x%x) in pVW->SetWindowPosition(rect.left, rect.top, rect.right, rect.bottom)\n",
                      Hex(hr));
    return hr;
}

void PreviewPlayer::FitVideoToWindow() {
    const QRect client = m_hWnd ? m_hWnd->rect() : QRect();
    int width = 0, height = 0;
    // Window systems may report a new geometry late; in full screen the
    // picture keeps its place between the bars instead of being stretched.
    if (m_hWnd && m_hWnd->inFullScreenStyle() && pBV && pBV->GetVideoSize(width, height).succeeded()) {
        const QRect r = FullScreenVideoRect(width, height, client.width(), client.height());
        (void)pVW->SetWindowPosition(r.left(), r.top(), r.width(), r.height());  // sizes are never negative here
        return;
    }
    (void)pVW->SetWindowPosition(0, 0, client.width(), client.height());
}

bool PreviewPlayer::SwitchFullScreen() {
    if (m_bAudioOnly || !pVW) return false;
    return m_bFullScreen ? LeaveFullScreen() : EnterFullScreen();
}

bool PreviewPlayer::EnterFullScreen() {
    if (!pVW || !m_hWnd) return false;
    const QRect screen = PrimaryScreenRect();
    const int cx = screen.width();
    const int cy = screen.height();
    m_rcNormal = m_hWnd->frameGeometry();
    m_normalFrame = FrameMetricsOf(*m_hWnd);
    m_lNormalStyle = m_hWnd->windowFlags();
    m_hWnd->setWindowFlags(kFullScreenStyle);
    m_hWnd->setFixedSize(cx, cy);
    m_hWnd->setGeometry(screen);  // frameless: the client is the whole window
    // Desktops keep panels above a window unless it says it is full screen.
    m_hWnd->setWindowState(m_hWnd->windowState() | Qt::WindowFullScreen);
    m_hWnd->show();
    m_hWnd->raise();
    m_hWnd->activateWindow();

    int width = 0, height = 0;
    if (!pBV || pBV->GetVideoSize(width, height).failed()) return false;
    const QRect r = FullScreenVideoRect(width, height, cx, cy);
    (void)pVW->SetWindowPosition(r.left(), r.top(), r.width(), r.height());  // sizes are never negative here

    m_dwLastActivity = TimeGetTime();
    m_hWnd->m_cursorTimer.start(kCursorTimerMs, m_hWnd);
    m_bFullScreen = 1;
    m_bHideDialogOnClick = 1;
    return true;
}

bool PreviewPlayer::LeaveFullScreen() {
    if (!pVW || !m_hWnd) return false;
    m_hWnd->setWindowState(m_hWnd->windowState() & ~Qt::WindowFullScreen);
    m_hWnd->setWindowFlags(m_lNormalStyle);
    const QSize client(m_rcNormal.width() - 2 * m_normalFrame.cxFrame,
                       m_rcNormal.height() - m_normalFrame.cyCaption - 2 * m_normalFrame.cyFrame);
    m_hWnd->setFixedSize(client.expandedTo(QSize(0, 0)));
    m_hWnd->move(m_rcNormal.topLeft());
    // Topmost for the moment only brought the window to the front; raising it
    // below does that without pinning it above other programs.
    m_hWnd->setVisible(m_bVideoShown != 0);
    m_hWnd->m_cursorTimer.stop();
    SetCursorVisible(true);
    m_bFullScreen = 0;
    if (m_hwndDialog) ShowWindowInFront(*m_hwndDialog);
    if (m_bVideoShown) {
        ShowWindowInFront(*m_hWnd);
        m_hWnd->activateWindow();
    } else {
        m_hWnd->hide();
    }
    return true;
}

void PreviewPlayer::SetCursorVisible(bool shown) {
    if (shown) {
        while (m_nCursorCount < 0) m_nCursorCount = ShowCursor(true);
        m_dwLastActivity = TimeGetTime();
        return;
    }
    while (m_nCursorCount >= 0) m_nCursorCount = ShowCursor(false);
}

void PreviewPlayer::OnCursorTimer() {
    // Unsigned difference: the wrap of the millisecond count does no harm.
    if (m_bFullScreen && TimeGetTime() - m_dwLastActivity > kCursorIdleMs) SetCursorVisible(false);
}

void PreviewPlayer::OnMouseActivity() {
    if (m_bFullScreen) SetCursorVisible(true);
}

void PreviewPlayer::ToggleDialogZOrder() {
    if (!pVW) return;
    QWidget* dialog = m_hwndDialog;
    if (m_bFullScreen) {
        if (dialog) {
            if (m_bHideDialogOnClick) {
                SetWindowTopmost(*dialog, false);
                HideWindow(*dialog);
            } else {
                SetWindowTopmost(*dialog, true);
                ShowWindowInFront(*dialog);
            }
        }
        m_bHideDialogOnClick = !m_bHideDialogOnClick;
        return;
    }
    if (dialog) {
        if (g_bRaisePlayerOnClick) {
            SetWindowTopmost(*dialog, false);
            ShowWindowInFront(*dialog);
            if (m_hWnd) ShowWindowInFront(*m_hWnd);
        } else {
            SetWindowTopmost(*dialog, true);
            ShowWindowInFront(*dialog);
        }
    }
    g_bRaisePlayerOnClick = !g_bRaisePlayerOnClick;
}

}  // namespace veltrano
