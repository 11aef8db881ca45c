// The dialog as the user sees it: rendered offscreen, every caption fits its
// control, nothing overlaps, and the template's arrangement is kept.

#include "app/ConverterDialog.h"
#include "app/ElidedLabel.h"
#include "app/ThumbSlider.h"
#include "tests/support/DialogFixture.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

QRect RectIn(QWidget* w, QWidget* top) { return QRect(w->mapTo(top, QPoint(0, 0)), w->size()); }

class DialogLayout : public ::testing::Test {
protected:
    void SetUp() override {
        ConverterDialog& d = h.Open();
        // The look with media open: the media controls enabled.
        for (const char* name : {"m_btnConvert", "m_sldPosition", "m_btnPlay", "m_btnPause", "m_btnStop",
                                 "m_btnStartTime", "m_btnEndTime", "m_stcStartTime", "m_stcEndTime"})
            Control(d, name)->setEnabled(true);
        // Longest texts the controls will carry.
        Label(d, "m_stcFileLine")->setText(QStringLiteral("a-rather-long-song-name.mp3   00:00:00 / 01:23:45"));
        Label(d, "m_stcStartTime")->setText(QStringLiteral("100:00:00"));
        Label(d, "m_stcEndTime")->setText(QStringLiteral("100:00:00"));
        Choose(List(d, "m_cboSamplesPerSec"), 6);
        d.adjustSize();
        QTest::qWait(10);
    }
    QRect R(const char* name) { return RectIn(Control(h.dialog(), name), &h.dialog()); }
    DialogHarness h;
};

TEST_F(DialogLayout, EveryCaptionFitsItsControl) {
    ConverterDialog& d = h.dialog();
    for (QPushButton* b : d.findChildren<QPushButton*>()) {
        if (!b->isVisible()) continue;
        SCOPED_TRACE(b->text().toStdString());
        EXPECT_GE(b->width(), b->sizeHint().width());
        EXPECT_GE(b->height(), b->sizeHint().height());
    }
    for (QLabel* l : d.findChildren<QLabel*>()) {
        if (!l->isVisible() || l->text().isEmpty()) continue;
        SCOPED_TRACE(l->text().toStdString());
        // A label made for paths shows them shortened; what it shows must fit.
        const auto* elided = qobject_cast<ElidedLabel*>(l);
        const int textWidth = l->fontMetrics().horizontalAdvance(elided ? elided->shownText() : l->text());
        EXPECT_GE(l->contentsRect().width(), textWidth);
        EXPECT_GE(l->contentsRect().height(), l->fontMetrics().height());
    }
    for (QComboBox* c : d.findChildren<QComboBox*>()) {
        SCOPED_TRACE(c->objectName().toStdString());
        EXPECT_GE(c->width(), c->sizeHint().width());
    }
    // Every row of a list shows whole when selected, the longest ones included.
    for (QComboBox* c : {List(d, "m_cboSamplesPerSec"), List(d, "m_cboChannels"), List(d, "m_cboBitsPerSample")}) {
        const int before = c->currentIndex();
        for (int i = 0; i < c->count(); ++i) {
            c->setCurrentIndex(i);
            QStyleOptionComboBox option;
            option.initFrom(c);
            option.currentText = c->itemText(i);
            const QRect text =
                c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c);
            EXPECT_GE(text.width(), c->fontMetrics().horizontalAdvance(c->itemText(i)))
                << c->objectName().toStdString() << ": " << c->itemText(i).toStdString();
        }
        c->setCurrentIndex(before);
    }
    auto* group = d.findChild<QGroupBox*>(QStringLiteral("m_grpWaveFormat"));
    EXPECT_GE(group->width(), group->fontMetrics().horizontalAdvance(group->title()) + 16);
    QLineEdit* custom = Edit(d, "m_nCustomSamplesPerSec");
    EXPECT_GE(custom->width(), custom->fontMetrics().horizontalAdvance("96000"));
}

TEST_F(DialogLayout, ControlsStayInsideAndDoNotOverlap) {
    ConverterDialog& d = h.dialog();
    QList<QWidget*> leaves;
    for (QWidget* w : d.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow() || qobject_cast<QGroupBox*>(w)) continue;
        if (w->parentWidget() != &d && w->parentWidget()->objectName() != QLatin1String("m_grpWaveFormat")) continue;
        leaves << w;
    }
    ASSERT_GE(leaves.size(), 20);
    const QRect inside = d.rect();
    for (int i = 0; i < leaves.size(); ++i) {
        const QRect a = RectIn(leaves[i], &d);
        EXPECT_TRUE(inside.contains(a)) << leaves[i]->objectName().toStdString();
        for (int j = i + 1; j < leaves.size(); ++j) {
            const QRect b = RectIn(leaves[j], &d);
            EXPECT_FALSE(a.intersects(b)) << leaves[i]->objectName().toStdString() << " overlaps "
                                          << leaves[j]->objectName().toStdString();
        }
    }
}

TEST_F(DialogLayout, KeepsTheTemplateArrangement) {
    ConverterDialog& d = h.dialog();
    // Top to bottom: open row, trackbar, play row, selection row, format group, output row, commands, status.
    EXPECT_LT(R("m_btnOpenMedia").bottom(), R("m_sldPosition").top());
    EXPECT_LT(R("m_sldPosition").bottom(), R("m_btnPlay").top());
    EXPECT_LT(R("m_btnPlay").bottom(), R("m_btnStartTime").top());
    EXPECT_LT(R("m_btnStartTime").bottom(), R("m_grpWaveFormat").top());
    EXPECT_LT(R("m_grpWaveFormat").bottom(), R("m_strOutputFile").top());
    EXPECT_LT(R("m_strOutputFile").bottom(), R("m_btnConvert").top());
    EXPECT_LT(R("m_btnConvert").bottom(), R("m_stcStatus").top());
    // Left to right within rows.
    EXPECT_LT(R("m_btnOpenMedia").right(), R("m_stcFileLine").left());
    EXPECT_LT(R("m_btnPlay").right(), R("m_btnPause").left());
    EXPECT_LT(R("m_btnPause").right(), R("m_btnStop").left());
    EXPECT_LT(R("m_btnStartTime").right(), R("m_stcStartTime").left());
    EXPECT_LT(R("m_stcStartTime").right(), R("m_btnEndTime").left());
    EXPECT_LT(R("m_btnEndTime").right(), R("m_stcEndTime").left());
    EXPECT_LT(R("m_strOutputFile").right(), R("m_btnBrowse").left());
    EXPECT_LT(R("m_btnConvert").right(), R("m_btnHelp").left());
    EXPECT_LT(R("m_cboSamplesPerSec").right(), R("m_nCustomSamplesPerSec").left());
    // Labels of the format group line up, and so do their lists.
    const int labelsLeft = R("m_stcSamplesPerSecLabel").left();
    EXPECT_EQ(R("m_stcChannelsLabel").left(), labelsLeft);
    EXPECT_EQ(R("m_stcBitsPerSampleLabel").left(), labelsLeft);
    EXPECT_EQ(R("m_cboChannels").left(), R("m_cboSamplesPerSec").left());
    EXPECT_EQ(R("m_cboBitsPerSample").left(), R("m_cboSamplesPerSec").left());
    // The trackbar and the status line span the dialog.
    EXPECT_GT(R("m_sldPosition").width(), d.width() * 8 / 10);
    EXPECT_GT(R("m_stcStatus").width(), d.width() * 8 / 10);
}

TEST_F(DialogLayout, ALongPathNeitherStretchesNorHidesTheDialog) {
    ConverterDialog& d = h.dialog();
    const QSize before = d.size();
    const QString path = QStringLiteral("/home/someone/a/very/long/folder/name/that/goes/on/and/on/") +
                         QString(120, QLatin1Char('x')) + QStringLiteral("/final-name.wav");
    Label(d, "m_stcStatus")->setText(QStringLiteral("Done. Output File: ") + path);
    Label(d, "m_stcFileLine")->setText(QString(150, QLatin1Char('y')) + QStringLiteral(".mp3   00:00:00 / 00:03:25"));
    Edit(d, "m_strOutputFile")->setText(path);
    QTest::qWait(10);
    EXPECT_EQ(d.size(), before);
    auto* status = qobject_cast<ElidedLabel*>(Label(d, "m_stcStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->shownText().startsWith(QStringLiteral("Done. Output File: /home")));
    EXPECT_TRUE(status->shownText().endsWith(QStringLiteral("final-name.wav")));
    EXPECT_EQ(status->text(), QStringLiteral("Done. Output File: ") + path) << "the text itself is whole";
}

TEST_F(DialogLayout, RendersToAnImage) {
    ConverterDialog& d = h.dialog();
    const QImage image = d.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 300);
    EXPECT_GT(image.height(), 300);
    // Not a blank image: the buttons and frames draw something.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 8);
    const QByteArray dir = qgetenv("VELTRANO_SCREENSHOT_DIR");
    const QString out = (dir.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(dir)) + "/veltrano-dialog.png";
    EXPECT_TRUE(image.save(out)) << out.toStdString();
}

}  // namespace
