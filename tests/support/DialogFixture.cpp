#include "tests/support/DialogFixture.h"

#include <QDir>

namespace veltrano::test {

DialogHarness::DialogHarness(bool withMusicFolder)
    : oldHome_(qgetenv("HOME")), oldConfig_(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("HOME", home_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_.path() + QStringLiteral("/.config")).toUtf8());
    if (withMusicFolder) QDir().mkpath(musicFolder());
    app_ = std::make_unique<ConverterApp>(home_.path() + QStringLiteral("/bin/veltrano"));
    app_->SetRegistryKey(QString::fromLatin1(kRegistryKey));
}

DialogHarness::~DialogHarness() {
    Destroy();
    app_.reset();
    qputenv("HOME", oldHome_);
    if (oldConfig_.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    else qputenv("XDG_CONFIG_HOME", oldConfig_);
}

ConverterDialog& DialogHarness::Open() {
    Destroy();
    dialog_ = std::make_unique<ConverterDialog>(*app_, UiServices{&boxes, &files, &help});
    dialog_->show();
    return *dialog_;
}

void DialogHarness::Destroy() {
    if (!dialog_) return;
    dialog_->ClosePreview();
    dialog_->hide();
    dialog_.reset();
}

QString DialogHarness::settingsFile() const { return app_->settings().filePath(); }

std::string DialogHarness::PathInHome(const std::string& name) const {
    return (home_.path() + QLatin1Char('/') + QString::fromStdString(name)).toStdString();
}

}  // namespace veltrano::test
