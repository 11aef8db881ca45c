#include "engine/Logging.h"

Q_LOGGING_CATEGORY(lcEngine, "veltrano.engine", QtWarningMsg)
