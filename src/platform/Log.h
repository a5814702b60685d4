#pragma once

#include <QLoggingCategory>

// The "reelbox" logging category (stderr / the journal) for what the application logs.
Q_DECLARE_LOGGING_CATEGORY(reelboxLog)
