#include "app/AboutDialog.h"

#include "app/Resources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrano {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDialog"));
    setProperty("controlId", IDD_ABOUTBOX);
    setWindowTitle(QStringLiteral("About Veltrano"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("m_stcIcon"));
    icon->setPixmap(ApplicationIcon().pixmap(40, 40));
    icon->setAccessibleName(QStringLiteral("Veltrano icon"));
    auto* text = new QLabel(QString::fromUtf8(kAboutText), this);
    text->setObjectName(QStringLiteral("m_stcVersion"));
    text->setTextFormat(Qt::PlainText);
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setObjectName(QStringLiteral("m_btnOk"));
    m_btnOk->setProperty("controlId", IDOK);
    m_btnOk->setDefault(true);
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text, 1, Qt::AlignVCenter);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnOk);
    buttons->addStretch(1);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(18, 16, 18, 12);
    top->addLayout(row);
    top->addSpacing(16);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace veltrano
