#include "tests/support/RecordingDialog.h"

#include "ui/WindowMessages.h"
#include "preview/PreviewPlayer.h"

namespace veltrano::test {

RecordingDialog::RecordingDialog() {
    setWindowTitle(QStringLiteral("Dialog stand-in"));
    setGeometry(200, 500, 400, 300);
}

bool RecordingDialog::event(QEvent* e) {
    const int type = static_cast<int>(e->type());
    if (type == kPlayerTickEventType) {
        Tick t;
        if (g_pPreviewPlayer) {
            t.current = g_pPreviewPlayer->m_rtCurrentPosition;
            t.stop = g_pPreviewPlayer->m_rtStopPosition;
        }
        ticks_.push_back(t);
        return true;
    }
    if (type == kPreviewOpenedEventType) {
        openings_.push_back(static_cast<PreviewOpenedEvent*>(e)->opened);
        return true;
    }
    if (type == kCommandEventType) {
        commands_.push_back(static_cast<CommandEvent*>(e)->id());
        return true;
    }
    return QWidget::event(e);
}

}  // namespace veltrano::test
