#pragma once
// One logging category per folder; enable with QT_LOGGING_RULES="veltrano.*=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSource)
Q_DECLARE_LOGGING_CATEGORY(lcConvert)
Q_DECLARE_LOGGING_CATEGORY(lcPreview)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
