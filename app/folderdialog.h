#pragma once
// The folder chooser behind a seam: tests queue the answer of the next dialog instead of opening one.

#include <QFileDialog>
#include <QString>

class FolderDialog
{
public:
    static QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                        QFileDialog::Options options);

    // The next call returns answer (an empty text stands for a cancelled dialog) without showing anything.
    static void setNextAnswer(const QString &answer);
    // What the last call was asked, so tests can check the caption, start folder and options.
    static QString lastCaption();
    static QString lastDirectory();
    static QFileDialog::Options lastOptions();
};
