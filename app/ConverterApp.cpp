#include "app/ConverterApp.h"

#include "app/ConverterDialog.h"
#include "ui/QtUiServices.h"

#include <QFileInfo>
#include <QTimer>

#include <memory>

namespace veltrano {

namespace {
ConverterApp* g_theApp = nullptr;
}

ConverterApp::ConverterApp(const QString& executablePath)
    : executablePath_(executablePath), applicationName_(QFileInfo(executablePath).completeBaseName()) {
    if (applicationName_.isEmpty()) applicationName_ = QStringLiteral("veltrano");
    g_theApp = this;
}

ConverterApp::~ConverterApp() {
    if (g_theApp == this) g_theApp = nullptr;
}

ConverterApp* ConverterApp::instance() { return g_theApp; }

void ConverterApp::SetRegistryKey(const QString& key) {
    settings_.SetFilePath(SettingsStore::FilePathFor(key, applicationName_));
}

bool ConverterApp::InitInstance() {
    // No control container to enable: Qt hosts no ActiveX controls.
    SetRegistryKey(QString::fromLatin1(kRegistryKey));

    QtMessageBoxes boxes(applicationName_.toStdString());
    QtFileDialogs files;
    QtHelpLauncher help;
    auto dialog = std::make_unique<ConverterDialog>(*this, UiServices{&boxes, &files, &help});
    boxes.SetOwner(dialog.get());
    files.SetOwner(dialog.get());
    // Modal to nothing: the player window must keep its input while the
    // dialog runs, as it is a window of its own and not the dialog's child.
    dialog->setWindowModality(Qt::WindowModal);
    if (!fileToOpen_.isEmpty()) {
        const std::string path = QFileInfo(fileToOpen_).absoluteFilePath().toStdString();
        QTimer::singleShot(0, dialog.get(), [d = dialog.get(), path] { d->OpenChosenMedia(path); });
    }
    dialog->exec();
    dialog.reset();
    return false;
}

}  // namespace veltrano
