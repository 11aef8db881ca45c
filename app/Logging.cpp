#include "app/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "veltrano.app", QtWarningMsg)
