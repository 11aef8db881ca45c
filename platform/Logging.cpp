#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "veltrano.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSource, "veltrano.source", QtWarningMsg)
Q_LOGGING_CATEGORY(lcConvert, "veltrano.convert", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPreview, "veltrano.preview", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlatform, "veltrano.platform", QtWarningMsg)
