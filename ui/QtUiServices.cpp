#include "ui/QtUiServices.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

namespace veltrano {

namespace {

QMessageBox::StandardButtons ButtonsOf(BoxButtons b) {
    switch (b) {
    case BoxButtons::Ok: return QMessageBox::Ok;
    case BoxButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(BoxIcon i) {
    switch (i) {
    case BoxIcon::None: return QMessageBox::NoIcon;
    case BoxIcon::Warning: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

BoxAnswer AnswerOf(int button) {
    switch (button) {
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    case QMessageBox::Cancel: return BoxAnswer::Cancel;
    default: return BoxAnswer::Ok;
    }
}

QStringList NameFilters(const std::vector<FileFilter>& filters) {
    QStringList out;
    for (const FileFilter& f : filters) out << QtNameFilter(f);
    return out;
}

QString InitialFilter(const std::vector<FileFilter>& filters, int index) {
    if (index < 1 || index > static_cast<int>(filters.size())) return {};
    return QtNameFilter(filters[static_cast<std::size_t>(index - 1)]);
}

std::optional<std::string> RunFileDialog(QFileDialog& dlg) {
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(files.first()).toStdString();
}

}  // namespace

QString QtNameFilter(const FileFilter& filter) {
    QStringList patterns;
    for (const QString& p : QString::fromStdString(filter.patterns).split(';', Qt::SkipEmptyParts)) {
        const QString t = p.trimmed();
        if (t.isEmpty()) continue;
        patterns << (t == QLatin1String("*.*") ? QStringLiteral("*") : t);
    }
    // The details group is hidden (HideNameFilterDetails), so the user reads the
    // description exactly as written.
    return QString::fromStdString(filter.description) + QStringLiteral(" (") + patterns.join(' ') +
           QStringLiteral(")");
}

BoxAnswer QtMessageBoxes::Show(const BoxRequest& request) {
    QWidget* parent = request.kind == BoxKind::Ownerless ? nullptr : owner_.data();
    QMessageBox box(IconOf(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), ButtonsOf(request.buttons), parent);
    // The reason sits in the same box, under the step's own text.
    if (!request.detail.empty()) box.setInformativeText(QString::fromStdString(request.detail));
    return AnswerOf(box.exec());
}

std::optional<std::string> QtFileDialogs::GetOpenFileName(const OpenFileRequest& request) {
    QFileDialog dlg(owner_, QString::fromStdString(request.title), QString::fromStdString(request.initialFolder));
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilters(NameFilters(request.filters));
    if (const QString f = InitialFilter(request.filters, request.filterIndex); !f.isEmpty()) dlg.selectNameFilter(f);
    return RunFileDialog(dlg);
}

std::optional<std::string> QtFileDialogs::GetSaveFileName(const SaveFileRequest& request) {
    QFileDialog dlg(owner_, QString::fromStdString(request.title), QString::fromStdString(request.initialFolder));
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    // Replacing an existing file is asked for at Convert time, not here.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters(NameFilters(request.filters));
    if (const QString f = InitialFilter(request.filters, request.filterIndex); !f.isEmpty()) dlg.selectNameFilter(f);
    if (!request.initialName.empty()) dlg.selectFile(QString::fromStdString(request.initialName));
    return RunFileDialog(dlg);
}

bool QtHelpLauncher::Open(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace veltrano
