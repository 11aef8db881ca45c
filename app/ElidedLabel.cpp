#include "app/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>

namespace veltrano {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setWordWrap(false);
}

QSize ElidedLabel::sizeHint() const {
    const QSize hint = QLabel::sizeHint();
    return {minimumWidth(), hint.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QSize hint = QLabel::minimumSizeHint();
    return {minimumWidth(), hint.height()};
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width() - 2 * margin() - indent());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect r = contentsRect().adjusted(margin() + indent(), margin(), -margin(), -margin());
    QStyleOption opt;
    opt.initFrom(this);
    style()->drawItemText(&painter, r, int(alignment()), opt.palette, isEnabled(), shownText(), foregroundRole());
}

bool ElidedLabel::event(QEvent* e) {
    // The whole text is a hover away when it had to be shortened.
    if (e->type() == QEvent::ToolTip) {
        if (shownText() != text()) setToolTip(text());
        else setToolTip(QString());
    }
    return QLabel::event(e);
}

}  // namespace veltrano
