// What the desktop sees of Veltrano: a valid menu entry and what
// `cmake --install` puts in place.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString SourceDir() { return QString::fromLocal8Bit(qgetenv("VELTRANO_SOURCE_DIR")); }
QString BinaryDir() { return QString::fromLocal8Bit(qgetenv("VELTRANO_BINARY_DIR")); }

TEST(DesktopEntry, PassesDesktopFileValidate) {
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {SourceDir() + QStringLiteral("/res/veltrano.desktop")});
    ASSERT_TRUE(validate.waitForFinished(30000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString()
                                      << validate.readAllStandardError().toStdString();
    // Warnings are printed too; a clean entry prints nothing.
    EXPECT_TRUE(validate.readAllStandardOutput().trimmed().isEmpty());
}

TEST(DesktopEntry, NamesTheProgramItsCategoriesAndTheTypesItOpens) {
    QFile f(SourceDir() + QStringLiteral("/res/veltrano.desktop"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("\nName=Veltrano\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=veltrano %f")));
    EXPECT_TRUE(text.contains(QStringLiteral("Icon=veltrano")));
    for (const char* needle : {"AudioVideo;", "Audio;", "Video;", "audio/mpeg;", "audio/flac;", "audio/ogg;",
                               "audio/x-wav;", "audio/mp4;", "video/mp4;", "video/x-matroska;", "video/webm;"})
        EXPECT_TRUE(text.contains(QLatin1String(needle))) << needle;
}

TEST(Install, PutsProgramHelpEntryAndIconsInPlace) {
    QTemporaryDir prefix;
    QProcess install;
    install.start(QStringLiteral("cmake"), {QStringLiteral("--install"), BinaryDir(), QStringLiteral("--prefix"),
                                            prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    const QString p = prefix.path();
    for (const QString& file : {QStringLiteral("/bin/veltrano"), QStringLiteral("/share/veltrano/help/Introduction.html"),
                                QStringLiteral("/share/applications/veltrano.desktop"),
                                QStringLiteral("/share/icons/hicolor/scalable/apps/veltrano.svg")})
        EXPECT_TRUE(QFileInfo::exists(p + file)) << file.toStdString();
    EXPECT_TRUE(QFileInfo(p + QStringLiteral("/bin/veltrano")).isExecutable());
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString png = p + QStringLiteral("/share/icons/hicolor/%1x%1/apps/veltrano.png").arg(size);
        const QImage image(png);
        ASSERT_FALSE(image.isNull()) << png.toStdString();
        EXPECT_EQ(image.size(), QSize(size, size));
        // Drawn, not empty: the centre is opaque.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
    if (QFileInfo::exists(BinaryDir() + QStringLiteral("/veltrano-convert"))) {
        EXPECT_TRUE(QFileInfo(p + QStringLiteral("/bin/veltrano-convert")).isExecutable());
        EXPECT_TRUE(QFileInfo::exists(p + QStringLiteral("/share/man/man1/veltrano-convert.1")));
    }
}

}  // namespace
