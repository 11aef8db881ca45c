// Display check of the whole program on a real X display (Xvfb): the main
// dialog runs modally as in the program, and every step is done with real
// mouse and key events (xdotool): open a video, play it, drag the thumb, mark
// a selection, convert it, seek with the keys, Enter in the output edit, full
// screen and back, Help, and Esc to close.
// Screenshots of the screen go to the given folder. scripts/dialog-on-xvfb.sh
// runs it.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "media/MediaSystem.h"
#include "tests/support/RecordingUiServices.h"
#include "preview/PlayerMenu.h"
#include "preview/PlayerWindow.h"
#include "preview/PreviewPlayer.h"
#include "app/ThumbSlider.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace veltrano;
using namespace veltrano::test;

namespace {

QString g_out;
int g_failures = 0;

void Xdo(const QStringList& args) {
    QProcess::execute(QStringLiteral("xdotool"), args);
    QTest::qWait(250);
}

void ClickAt(QPoint g, const char* button = "1") {
    Xdo({"mousemove", QString::number(g.x()), QString::number(g.y()), "click", button});
}

void Click(QWidget* w) { ClickAt(w->mapToGlobal(w->rect().center())); }

void Shot(const char* name) {
    QTest::qWait(200);
    QApplication::primaryScreen()->grabWindow(0).save(g_out + QLatin1Char('/') + QLatin1String(name));
    std::printf("  screenshot %s\n", name);
}

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "  ok  " : "  FAIL", what);
    if (!ok) ++g_failures;
}

void Script(ConverterDialog& d, RecordingHelpLauncher& help, const std::string& output) {
    std::printf("open the video\n");
    Click(Button(d, "m_btnOpenMedia"));
    QTest::qWait(800);
    Check(g_pPreviewPlayer && g_pPreviewPlayer->m_hWnd && g_pPreviewPlayer->m_hWnd->isVisible(), "preview window shown");
    std::printf("  file line: %s\n", Label(d, "m_stcFileLine")->text().toUtf8().constData());
    Shot("1-opened.png");

    std::printf("play from the dialog\n");
    Click(Button(d, "m_btnPlay"));
    QTest::qWait(2300);
    Check(g_pPreviewPlayer && g_pPreviewPlayer->m_ePlayState == Running, "playing");
    std::printf("  file line: %s\n", Label(d, "m_stcFileLine")->text().toUtf8().constData());
    Shot("2-playing.png");
    d.grab().save(g_out + QStringLiteral("/dialog.png"));  // the README's picture

    std::printf("drag the thumb to the middle\n");
    ThumbSlider* s = Trackbar(d);
    const QPoint from = s->mapToGlobal(QPoint(s->width() * d.StateForTests().sliderPos / 600 + 4, s->height() / 2));
    const QPoint to = s->mapToGlobal(QPoint(s->width() / 2, s->height() / 2));
    Xdo({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1"});
    Xdo({"mousemove", QString::number(to.x()), QString::number(to.y())});
    Xdo({"mouseup", "1"});
    QTest::qWait(1300);
    std::printf("  thumb at %d, file line: %s\n", s->value(), Label(d, "m_stcFileLine")->text().toUtf8().constData());
    Check(g_pPreviewPlayer && g_pPreviewPlayer->m_rtCurrentPosition > 4 * kUnitsPerSecond, "the preview jumped ahead");

    std::printf("mark the selection while it plays\n");
    Click(Button(d, "m_btnStartTime"));
    QTest::qWait(2100);
    Click(Button(d, "m_btnEndTime"));
    std::printf("  start %s, end %s\n", Label(d, "m_stcStartTime")->text().toUtf8().constData(),
                Label(d, "m_stcEndTime")->text().toUtf8().constData());
    Check(d.StateForTests().endTime > d.StateForTests().startTime, "end after start");
    Click(Button(d, "m_btnPause"));

    std::printf("convert\n");
    Edit(d, "m_strOutputFile")->setText(QString::fromStdString(output));
    Click(Button(d, "m_btnConvert"));
    Check(WaitUntilIdle(d), "the conversion ended");
    std::printf("  status: %s\n", Label(d, "m_stcStatus")->text().toUtf8().constData());
    Shot("3-converted.png");
    const test::WavFile w = test::ReadWavFile(output);
    const double seconds = double(d.StateForTests().endTime - d.StateForTests().startTime) / kUnitsPerSecond;
    std::printf("  output: %u Hz, %d channels, %llu frames (%.3f s; selection %.3f s)\n", w.sampleRate, w.channels,
                static_cast<unsigned long long>(w.frames()), w.ok ? double(w.frames()) / w.sampleRate : 0.0, seconds);
    Check(w.ok && std::abs(double(w.frames()) - seconds * w.sampleRate) <= 1.0, "the file holds exactly the selection");

    std::printf("keys on the trackbar seek, Enter in the output edit keeps the dialog\n");
    Xdo({"windowfocus", QString::number(d.winId())});
    Trackbar(d)->setFocus(Qt::TabFocusReason);
    Xdo({"key", "Home"});
    QTest::qWait(600);
    g_pPreviewPlayer->RefreshPositions();
    Check(g_pPreviewPlayer->m_rtCurrentPosition < kUnitsPerSecond / 2, "Home sought the start");
    for (int i = 0; i < 5; ++i) Xdo({"key", "Prior"});  // five pages of 10 steps: 1 s of 12
    QTest::qWait(600);
    g_pPreviewPlayer->RefreshPositions();
    std::printf("  thumb at %d, preview at %.2f s\n", Trackbar(d)->value(),
                double(g_pPreviewPlayer->m_rtCurrentPosition) / kUnitsPerSecond);
    Check(std::abs(double(g_pPreviewPlayer->m_rtCurrentPosition) / kUnitsPerSecond - 1.0) < 0.1,
          "Page Up sought a second in");
    Edit(d, "m_strOutputFile")->setFocus(Qt::TabFocusReason);
    Xdo({"key", "Return"});
    Check(d.isVisible() && d.StateForTests().clipCount == 1, "Enter in the output edit kept the dialog and the file");

    std::printf("full screen from the player's menu, back with Escape\n");
    PlayerWindow* pw = g_pPreviewPlayer->m_hWnd;
    ClickAt(pw->mapToGlobal(pw->rect().center()), "3");
    QTest::qWait(400);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    Check(menu != nullptr, "the player's menu opened");
    if (menu) {
        QAction* full = MenuItem(*menu, ID_PREVIEW_FULLSCREEN);
        ClickAt(menu->mapToGlobal(menu->actionGeometry(full).center()));
        QTest::qWait(800);
    }
    Check(g_pPreviewPlayer->m_bFullScreen, "full screen");
    Shot("4-full-screen.png");
    Xdo({"mousemove", "640", "500", "windowfocus", QString::number(pw->winId()), "key", "Escape"});
    QTest::qWait(600);
    Check(!g_pPreviewPlayer->m_bFullScreen && d.isVisible(), "normal size again, dialog shown");
    Shot("5-normal-again.png");

    std::printf("help\n");
    Click(Button(d, "m_btnHelp"));
    Check(!help.urls().empty(), "help page asked for");
    if (!help.urls().empty()) std::printf("  %s\n", help.urls().back().c_str());

    std::printf("close with Esc\n");
    Xdo({"windowfocus", QString::number(d.winId()), "key", "Escape"});
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    g_out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath();
    QDir().mkpath(g_out + QStringLiteral("/home/Music"));
    qputenv("HOME", (g_out + QStringLiteral("/home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (g_out + QStringLiteral("/home/.config")).toUtf8());
    if (InitializeMedia().failed()) return 1;

    const std::string media = (g_out + QStringLiteral("/home/clip.mp4")).toStdString();
    test::VideoSpec spec;
    spec.seconds = 12;
    std::string error;
    if (!test::MakeVideo(media, spec, &error)) {
        std::printf("cannot make the video: %s\n", error.c_str());
        return 1;
    }

    ConverterApp app(g_out + QStringLiteral("/bin/veltrano"));
    app.SetRegistryKey(QString::fromLatin1(kRegistryKey));
    RecordingMessageBoxes boxes;
    RecordingFileDialogs files;
    RecordingHelpLauncher help;
    files.QueueOpenAnswer(media);
    ConverterDialog dialog(app, UiServices{&boxes, &files, &help});
    dialog.setWindowModality(Qt::WindowModal);
    dialog.move(400, 560);
    QTimer::singleShot(600, &dialog, [&] { Script(dialog, help, (g_out + QStringLiteral("/home/selection.wav")).toStdString()); });
    dialog.exec();
    Check(!dialog.isVisible(), "the dialog ended");
    Check(QFile::exists(app.settings().filePath()), "settings written at close");
    for (const BoxRequest& b : boxes.shown()) std::printf("  box: %s\n", b.text.c_str());
    Check(boxes.shown().empty(), "no message box");
    if (g_pPreviewPlayer) {
        g_pPreviewPlayer->CloseMedia();
        delete g_pPreviewPlayer;
        g_pPreviewPlayer = nullptr;
    }
    std::printf("%s\n", g_failures ? "FAILED" : "all checks passed");
    return g_failures ? 1 : 0;
}
