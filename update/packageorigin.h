#pragma once
// Whether a downloaded package may be unpacked at all, judged on the package file alone before any of it
// is written. This is the one place where a check of the package's origin belongs.

#include <string>

bool PackageOriginAccepted(const std::string &packagePath);
