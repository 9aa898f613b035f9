#pragma once
// The settings of the current print run: written by the window before a worker exists, read by the worker.

#include <QString>
#include <cstdint>

struct PrintJobSettingsRecord
{
    QString sourcePath;
    QString password;
    int32_t delayMs = 0;
    QString failureListPath;
};

extern PrintJobSettingsRecord PrintJobSettings;
