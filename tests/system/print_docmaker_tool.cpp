// Makes password-protected Word documents for the command line's system test, which has no UNO of its own:
//
//     print_docmaker_tool SOURCE TARGET PASSWORD [SOURCE TARGET PASSWORD ...]
//
// Each SOURCE (a document LibreOffice opens) is stored as an encrypted Word 97 document at TARGET.

#include "tests/system/print_docmaker.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    QTextStream err(stderr);
    if (arguments.isEmpty() || arguments.size() % 3 != 0) {
        err << "usage: print_docmaker_tool SOURCE TARGET PASSWORD [...]\n";
        return 2;
    }
    QVector<docmaker::PasswordJob> jobs;
    for (int i = 0; i < arguments.size(); i += 3)
        jobs.append({arguments.at(i), arguments.at(i + 1), arguments.at(i + 2)});
    QString error;
    if (!docmaker::SavePasswordProtected(jobs, &error)) {
        err << error << "\n";
        return 1;
    }
    return 0;
}
