#pragma once
// The About box (template 100): the icon, the version text and OK.

#include <QDialog>

class QPushButton;

namespace veltrano {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    QPushButton* okButton() const { return m_btnOk; }

private:
    QPushButton* m_btnOk;
};

}  // namespace veltrano
