#pragma once
// Shows a text file to the user in the platform's viewer, without waiting for it.

#include <QString>

void ShowTextFileInViewer(const QString &path);
