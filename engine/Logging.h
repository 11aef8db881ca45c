#pragma once
// This folder's logging category; enable with QT_LOGGING_RULES="veltrano.engine=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcEngine)
