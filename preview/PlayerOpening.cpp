// Opening and closing the preview: the window, the playback graph and its
// interfaces. The file is cued on GStreamer's threads; the opening goes on
// when the graph tells that the cueing has ended, and the dialog hears the
// outcome as a posted event, so the user-interface thread never waits on it.

#include "preview/PreviewPlayer.h"

#include "ui/Desktop.h"
#include "preview/Logging.h"
#include "preview/PlayerWindow.h"
#include "preview/VideoPlacement.h"


namespace veltrano {

namespace {
// The code of a result as the "0x%x" of the failure texts print it.
unsigned Hex(const Result& hr) { return static_cast<unsigned>(hr.code()); }

std::uint64_t g_lastSerial = 0;  // user-interface thread only
}  // namespace

std::string CannotPlayDetail(std::string_view path, std::string_view reason) {
    std::string detail = "The file " + std::string(path) + " could not be played";
    if (reason.empty()) return detail + ".";
    return detail + ": " + std::string(reason);
}

bool PreviewPlayer::OpenMedia() {
    m_nSerial = ++g_lastSerial;
    m_ePlayState = Stopped;
    CreatePlayerWindow();
    // The path stays UTF-8: the graph makes the file's URI of it.
    const std::string path(TextOf(m_szFileName));

    Result hr = PlaybackGraph::Create(pGB);
    if (hr.failed()) {
        qCWarning(lcPreview) << "cannot build the playback graph:" << hr.text().c_str();
        ReportFailure("FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
                      "IID_IGraphBuilder, (void **)&pGB)\n",
                      Hex(hr));
        return FailOpen();
    }
    // The end of the cueing arrives at the window like every graph event.
    hr = pGB->BeginRender(path.c_str(), m_hWnd, kGraphNotifyEventType);
    if (hr.failed()) {
        ReportCannotPlay(hr);
        return FailOpen();
    }
    m_bOpening = true;
    return true;
}

void PreviewPlayer::ContinueOpen() {
    bool ended = false;
    const Result rendered = pGB->EndRender(ended);
    if (!ended) return;
    m_bOpening = false;
    bool opened = false;
    if (rendered.failed()) {
        ReportCannotPlay(rendered);
        FailOpen();
    } else {
        opened = FinishOpen();
    }
    PostToDialog(new PreviewOpenedEvent(m_nSerial, opened));
}

void PreviewPlayer::ReportCannotPlay(const Result& why) {
    m_boxes.Show({BoxKind::Ownerless, kOwnerlessCaption, kCannotPlayText, BoxButtons::Ok, BoxIcon::None,
                  CannotPlayDetail(TextOf(m_szFileName), why.text())});
}

bool PreviewPlayer::FinishOpen() {
    if (!QueryGraphInterfaces()) return FailOpen();
    DetectAudioOnly();

    Result hr = pME->SetNotifyWindow(m_hWnd, kGraphNotifyEventType, 0);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pME->SetNotifyWindow(reinterpret_cast<OAHWND>(m_hWnd), WM_GRAPHNOTIFY, 0)\n",
                      Hex(hr));
        return FailOpen();
    }

    if (!m_bAudioOnly) {
        // The surface is made a child of the window: there is no caption or
        // frame of its own to strip first. Results not examined, as before.
        (void)pVW->put_Owner(m_hWnd);
        (void)pVW->put_MessageDrain(m_hWnd);
        // One failure, one box: the sizing's own failure is not told twice.
        hr = InitVideoWindow(1, 1, /*report=*/false);
        if (hr.failed()) {
            ReportFailure("FAILED(hr=0x%x) in InitVideoWindow(1, 1)\n", Hex(hr));
            return FailOpen();
        }
        if (m_bStartInFullScreen) EnterFullScreen();
    }

    if (m_bAudioOnly) {
        m_hWnd->hide();  // for good; a hidden window takes neither focus nor the front
    } else {
        m_bVideoShown = 1;
        m_hWnd->show();  // keeps a full-screen state entered just above
        m_hWnd->raise();
        m_hWnd->activateWindow();
        m_hWnd->setFocus();
    }
    UpdateTitle();
    m_hWnd->m_positionTimer.start(kPositionTimerMs, m_hWnd);
    return true;
}

bool PreviewPlayer::QueryGraphInterfaces() {
    Result hr = pGB->QueryInterface(pMC);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n", Hex(hr));
        return false;
    }
    hr = pGB->QueryInterface(pME);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n", Hex(hr));
        return false;
    }
    hr = pGB->QueryInterface(pMS);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)\n", Hex(hr));
        return false;
    }
    hr = pGB->QueryInterface(pVW);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n", Hex(hr));
        return false;
    }
    hr = pGB->QueryInterface(pBV);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n", Hex(hr));
        return false;
    }
    hr = pGB->QueryInterface(pBA);
    if (hr.failed()) {
        ReportFailure("FAILED(hr=0x%x) in pGB->QueryInterface(IID_IBasicAudio, (void **)&pBA)\n", Hex(hr));
        return false;
    }
    return true;
}

bool PreviewPlayer::FailOpen() {
    CloseMedia();
    return false;
}

void PreviewPlayer::CloseMedia() {
    m_bOpening = false;
    if (pMC) (void)pMC->Stop();  // the graph is released next, whatever it says
    m_ePlayState = Stopped;
    m_bAudioOnly = 1;
    if (m_bWindowCreated) DestroyPlayerWindow();
    ReleaseGraph();
    m_szFileName[0] = '\0';
    m_ePlayState = NoMedia;
    if (m_hwndDialog) m_hwndDialog->update();
}

void PreviewPlayer::CreatePlayerWindow() {
    // There is no window class to register: PlayerWindow is the class.
    const QRect dialogRect = m_hwndDialog ? m_hwndDialog->frameGeometry() : QRect();
    m_hWnd = new PlayerWindow(this);
    SetFixedWindowRect(*m_hWnd, InitialPlayerRect(WorkAreaRect(), dialogRect));
    m_bWindowCreated = true;
}

void PreviewPlayer::DestroyPlayerWindow() {
    if (!m_hWnd) return;
    if (pVW) {
        m_hWnd->hide();
        (void)pVW->put_Visible(false);  // the window goes anyway
        if (m_bFullScreen) {
            m_bVideoShown = 0;  // so leaving full screen keeps the window hidden
            LeaveFullScreen();
            m_hWnd->hide();
        }
    }
    if (m_hwndDialog) m_hwndDialog->update();
    // The timers end with the window. The window goes once control is back
    // in the event loop, so no handler still running on it loses its object;
    // from now on it hears nothing of this player.
    m_hWnd->m_cursorTimer.stop();
    m_hWnd->m_positionTimer.stop();
    m_hWnd->DetachPlayer();
    m_hWnd->hide();
    m_hWnd->deleteLater();
    m_hWnd = nullptr;
    m_bWindowCreated = false;
}

void PreviewPlayer::ReleaseGraph() {
    if (pVW) {
        // Releasing: nothing is left to report a failure to.
        (void)pVW->put_Visible(false);
        (void)pVW->put_Owner(nullptr);
    }
    if (pME) (void)pME->SetNotifyWindow(nullptr, 0, 0);
    pME.reset();
    pMS.reset();
    pMC.reset();
    pBA.reset();
    pBV.reset();
    pVW.reset();
    pGB.reset();  // the last reference: the graph is torn down here
}

void PreviewPlayer::DetectAudioOnly() {
    if (!pVW || !pBV) {
        m_bAudioOnly = 1;
        return;
    }
    m_bAudioOnly = 0;
    bool visible = false;
    const Result hr = pVW->get_Visible(visible);
    if (hr.succeeded()) return;
    if (hr == E_NOINTERFACE) {
        m_bAudioOnly = 1;
        return;
    }
    ReportFailure("Failed(%08lx) in pVW->get_Visible()!\r\n", static_cast<unsigned long>(Hex(hr)));
}

}  // namespace veltrano
