#include "print/printjobsettings.h"

PrintJobSettingsRecord PrintJobSettings;
