#include "platform/Log.h"

Q_LOGGING_CATEGORY(reelboxLog, "reelbox")
