// A media file dropped on the dialog opens as if chosen in the open dialog.

#include "app/ConverterDialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace veltrano {

inline constexpr const char* kDropOneFileText =
    "Please drop one media file at a time: Veltrano converts one file at a time.";

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
    OpenChosenMedia(files.first().toLocalFile().toStdString());
}

}  // namespace veltrano
