#pragma once
// The files the program keeps beside its executable, named once for start-up and the updater alike.

// The settings file.
constexpr char kSettingsFileName[] = "Quillmark.kov";
// The update package, downloaded under this name and fetched from the server under it.
constexpr char kPackageFileName[] = "Quillmark.zip";
