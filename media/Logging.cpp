#include "media/Logging.h"

Q_LOGGING_CATEGORY(lcMedia, "veltrano.media", QtWarningMsg)
