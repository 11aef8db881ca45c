// Drops: a media file dropped on the dialog opens as if chosen in the open
// dialog; a file dropped on the output edit gives its path there.

#include "app/ConverterDialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace veltrano {

inline constexpr const char* kDropOneFileText =
    "Please drop one media file at a time: Veltrano converts one file at a time.";
inline constexpr const char* kDropFolderText =
    "A folder cannot be opened: please drop one media file from it.";

namespace {
QList<QUrl> LocalFiles(const QMimeData* mime) {
    QList<QUrl> files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files << url;
    return files;
}
}  // namespace

void ConverterDialog::dragEnterEvent(QDragEnterEvent* e) {
    // One opening at a time: nothing is taken while one goes on.
    if (m_nProbeTicket != 0 || m_nPreviewSerial != 0) return;
    if (!LocalFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void ConverterDialog::dropEvent(QDropEvent* e) {
    const QList<QUrl> files = LocalFiles(e->mimeData());
    if (files.isEmpty()) return;
    e->acceptProposedAction();
    if (files.size() > 1) {
        m_services.boxes->DialogBox("Veltrano", kDropOneFileText, BoxButtons::Ok, BoxIcon::Information);
        return;
    }
    const QString path = files.first().toLocalFile();
    // Refused before anything changes: a folder is no media file.
    if (QFileInfo(path).isDir()) {
        m_services.boxes->DialogBox("Veltrano", kDropFolderText, BoxButtons::Ok, BoxIcon::Information,
                                    path.toStdString() + " is a folder.");
        return;
    }
    OpenChosenMedia(path.toStdString());
}

bool ConverterDialog::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_editOutputFile) {
        const QEvent::Type type = e->type();
        if (type == QEvent::DragEnter || type == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(e);
            if (LocalFiles(drag->mimeData()).size() == 1) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (type == QEvent::Drop && LocalFiles(static_cast<QDropEvent*>(e)->mimeData()).size() == 1) {
            DropOnOutputEdit(static_cast<QDropEvent*>(e));
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void ConverterDialog::DropOnOutputEdit(QDropEvent* e) {
    // The path as the user would type it, never a file:// URL; as typed text
    // it is taken at the next Convert or close.
    m_editOutputFile->setText(LocalFiles(e->mimeData()).first().toLocalFile());
    m_editOutputFile->setFocus(Qt::OtherFocusReason);
    e->acceptProposedAction();
}

}  // namespace veltrano
