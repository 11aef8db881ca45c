// The dialog application: builds the application object and runs it.

#include "app/ConverterApp.h"
#include "app/Resources.h"
#include "media/MediaSystem.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationVersion(QStringLiteral(VELTRANO_VERSION));
    QApplication::setWindowIcon(veltrano::ApplicationIcon());
    QApplication::setDesktopFileName(QStringLiteral("veltrano"));
    // The media framework starts before the dialog; the dialog reports a failure.
    (void)veltrano::InitializeMedia();

    veltrano::ConverterApp app(QApplication::applicationFilePath());
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) app.SetFileToOpen(args.at(1));
    app.InitInstance();
    return 0;
}
