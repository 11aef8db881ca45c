#include "preview/Logging.h"

Q_LOGGING_CATEGORY(lcPreview, "veltrano.preview", QtWarningMsg)
