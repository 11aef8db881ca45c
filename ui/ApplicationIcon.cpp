#include "ui/ApplicationIcon.h"

#include <QtGlobal>

// Resources of a static library must be registered by hand; the linker drops
// their automatic initialiser.
static void InitVeltranoResources() { Q_INIT_RESOURCE(veltrano); }

namespace veltrano {

QIcon ApplicationIcon() {
    static const QIcon icon = [] {
        InitVeltranoResources();
        return QIcon(QStringLiteral(":/veltrano/icon128.svg"));
    }();
    return icon;
}

}  // namespace veltrano
