#include "tests/support/DialogFixture.h"

#include "app/ThumbSlider.h"
#include "preview/PreviewPlayer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimerEvent>
#include <gtest/gtest.h>

namespace veltrano::test {

QWidget* Control(QWidget& dialog, const char* objectName) {
    auto* w = dialog.findChild<QWidget*>(QString::fromLatin1(objectName));
    EXPECT_NE(w, nullptr) << "no control " << objectName;
    return w;
}

template <typename T>
T* As(QWidget& dialog, const char* objectName) {
    auto* w = qobject_cast<T*>(Control(dialog, objectName));
    EXPECT_NE(w, nullptr) << objectName << " is not of the expected kind";
    return w;
}

QPushButton* Button(QWidget& d, const char* name) { return As<QPushButton>(d, name); }
QLabel* Label(QWidget& d, const char* name) { return As<QLabel>(d, name); }
QLineEdit* Edit(QWidget& d, const char* name) { return As<QLineEdit>(d, name); }
QComboBox* List(QWidget& d, const char* name) { return As<QComboBox>(d, name); }
ThumbSlider* Trackbar(QWidget& d) { return As<ThumbSlider>(d, "m_sldPosition"); }
QProgressBar* ProgressBar(QWidget& d) { return As<QProgressBar>(d, "m_prgConvert"); }

void Choose(QComboBox* list, int row) {
    list->setCurrentIndex(row);
    emit list->activated(row);
}

void SendCommand(QPushButton* button) { emit button->clicked(false); }

void Tick(QWidget& dialog, int timerId) {
    QTimerEvent tick(timerId);
    QCoreApplication::sendEvent(&dialog, &tick);
}

bool WaitForOpening(ConverterDialog& dialog) {
    return QTest::qWaitFor([&] { return !dialog.StateForTests().opening; }, kOpenTimeoutMs);
}

bool WaitUntilIdle(ConverterDialog& dialog, int timeoutMs) {
    return QTest::qWaitFor([&] { return !dialog.StateForTests().converting; }, timeoutMs);
}

void DropPreviewPlayer() {
    if (g_pPreviewPlayer) {
        if (g_pPreviewPlayer->m_ePlayState != NoMedia) g_pPreviewPlayer->CloseMedia();
        delete g_pPreviewPlayer;
        g_pPreviewPlayer = nullptr;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

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
    if (dialog_->StateForTests().converting) {
        SendCommand(Button(*dialog_, "m_btnConvert"));  // Stop
        WaitUntilIdle(*dialog_);
    }
    DropPreviewPlayer();
    dialog_->hide();
    dialog_.reset();
}

QString DialogHarness::settingsFile() const { return app_->settings().filePath(); }

std::string DialogHarness::PathInHome(const std::string& name) const {
    return (home_.path() + QLatin1Char('/') + QString::fromStdString(name)).toStdString();
}

bool DialogHarness::OpenMedia(const std::string& path) {
    files.QueueOpenAnswer(path);
    Button(*dialog_, "m_btnOpenMedia")->click();
    return WaitForOpening(*dialog_);
}

void DialogHarness::SetOutput(const std::string& path) {
    Edit(*dialog_, "m_strOutputFile")->setText(QString::fromStdString(path));
}

void DialogHarness::PressConvert() { SendCommand(Button(*dialog_, "m_btnConvert")); }

}  // namespace veltrano::test
