#pragma once
#include <QString>
#include <QStringList>

// Starts an office on profileDir (empty: a fresh one), loads, prints (Wait) and closes each file on printer,
// terminates the office. Returns how many were printed.
int BareUnoLoop(const QString &programDir, const QString &profileDir, const QStringList &files,
                const QString &printer, QString *error);
