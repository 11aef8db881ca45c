#pragma once
// A one-line label whose text may be longer than the dialog is wide (a path):
// it keeps its width and shows the text elided in the middle, the whole text
// in its tooltip, so a long path never stretches or clips the dialog.

#include <QLabel>

namespace veltrano {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The text as painted: elided when it does not fit.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    bool event(QEvent* e) override;
};

}  // namespace veltrano
