#include "app/folderdialog.h"

namespace {
bool hasNextAnswer = false;
QString nextAnswer;
QString askedCaption;
QString askedDirectory;
QFileDialog::Options askedOptions;
} // namespace

QString FolderDialog::getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                           QFileDialog::Options options)
{
    askedCaption = caption;
    askedDirectory = dir;
    askedOptions = options;
    if (hasNextAnswer) {
        hasNextAnswer = false;
        return nextAnswer;
    }
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

void FolderDialog::setNextAnswer(const QString &answer)
{
    hasNextAnswer = true;
    nextAnswer = answer;
}

QString FolderDialog::lastCaption()
{
    return askedCaption;
}

QString FolderDialog::lastDirectory()
{
    return askedDirectory;
}

QFileDialog::Options FolderDialog::lastOptions()
{
    return askedOptions;
}
