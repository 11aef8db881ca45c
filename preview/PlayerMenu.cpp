#include "preview/PlayerMenu.h"

#include <QAction>
#include <QMenu>

namespace veltrano {

namespace {
void AddItem(QMenu& menu, const char* text, int id) {
    QAction* action = menu.addAction(QString::fromUtf8(text));
    action->setData(id);
}
}  // namespace

QMenu* LoadPlayerMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("PREVIEW"), parent);
    menu->setObjectName(QStringLiteral("PlayerMenu"));
    AddItem(*menu, "Full screen", ID_PREVIEW_FULLSCREEN);
    AddItem(*menu, "Normal size", ID_PREVIEW_NORMALSIZE);
    menu->addSeparator();
    AddItem(*menu, "Play", ID_PREVIEW_PLAY);
    AddItem(*menu, "Pause", ID_PREVIEW_PAUSE);
    AddItem(*menu, "Stop", ID_PREVIEW_STOP);
    menu->addSeparator();
    AddItem(*menu, "Close", ID_PREVIEW_CLOSE);
    return menu;
}

QAction* MenuItem(const QMenu& menu, int commandId) {
    for (QAction* action : menu.actions())
        if (!action->isSeparator() && action->data().toInt() == commandId) return action;
    return nullptr;
}

}  // namespace veltrano
