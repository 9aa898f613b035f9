#include "support/startpaths.h"

#include "platform/selfpath.h"
#include "support/companionfiles.h"
#include "support/textutil.h"

#include <cstring>

char StartArgument[kStartArgumentSize];
char ExePath[kStartPathSize];
char AppDir[kStartPathSize];
char SettingsFilePath[kStartPathSize];
char UpdatePackagePath[kStartPathSize];

namespace {

bool CopyIfFits(char *field, size_t capacity, const char *text)
{
    const size_t length = std::strlen(text);
    if (length >= capacity)
        return false;
    std::memcpy(field, text, length + 1);
    return true;
}

bool JoinIfFits(char *field, size_t capacity, const char *directory, const char *name)
{
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    if (directoryLength + nameLength >= capacity)
        return false;
    std::memcpy(field, directory, directoryLength);
    std::memcpy(field + directoryLength, name, nameLength + 1);
    return true;
}

} // namespace

int InitStartPaths(const char *firstArgument, const char *exePath, char separator)
{
    StartArgument[0] = '\0';
    ExePath[0] = '\0';
    AppDir[0] = '\0';
    SettingsFilePath[0] = '\0';
    UpdatePackagePath[0] = '\0';

    // An argument too long to keep cannot be "-autorun" anyway.
    if (firstArgument != nullptr && !CopyIfFits(StartArgument, kStartArgumentSize, firstArgument))
        StartArgument[0] = '\0';

    // A cut path would name another file, so a path that does not fit leaves all paths empty.
    if (exePath == nullptr || !CopyIfFits(ExePath, kStartPathSize, exePath))
        return -1;
    const char marker[2] = {separator, '\0'};
    TakeBefore(AppDir, ExePath, marker, 1, 1);
    if (!JoinIfFits(SettingsFilePath, kStartPathSize, AppDir, kSettingsFileName) ||
        !JoinIfFits(UpdatePackagePath, kStartPathSize, AppDir, kPackageFileName)) {
        ExePath[0] = '\0';
        AppDir[0] = '\0';
        SettingsFilePath[0] = '\0';
        UpdatePackagePath[0] = '\0';
        return -1;
    }
    return 0;
}

int InitStartPathsFromCommandLine(int argc, char *argv[])
{
    char ownPath[kStartPathSize] = {};
    const char *exePath = argc > 0 && argv[0] ? argv[0] : "";
    if (OwnExecutablePath(exePath, ownPath, sizeof ownPath) == 0)
        exePath = ownPath;
    return InitStartPaths(argc > 1 ? argv[1] : nullptr, exePath, NativeSeparator());
}
