#pragma once
// The office names each print job after the file it loaded. Every document is therefore loaded through a
// link of our own, in a private folder, whose name is the document's name with this run's mark for it
// before the extension ("报告 [qm4242abc-17].docx"): a person sees the document's name in the queue, and
// the run knows its job by the mark, which nothing else carries. The links also give names that are not
// UTF-8, which the office refuses, a UTF-8 form.

#include <QByteArray>
#include <QString>

#include <string>

// The link's name for a document whose own name has the bytes fileName: stray bytes shown as U+FFFD, the
// mark before the extension, cut (at a character) so that the whole stays within the file system's and
// the job name's limits.
QByteArray MarkedName(const QByteArray &fileName, const std::string &mark);

class DocumentLinks
{
public:
    DocumentLinks();
    ~DocumentLinks() { removeAll(); }

    // This run's part of every mark.
    const std::string &runToken() const { return token_; }
    // A link to path named with mark; empty when it cannot be made.
    QString markedLink(const QString &path, const std::string &mark);
    void drop(const QString &link);
    // A place the office can write target through: target itself when its name is UTF-8, else the same
    // file name inside a link to its folder.
    QString writablePath(const QString &target);
    void removeAll();

    DocumentLinks(const DocumentLinks &) = delete;
    DocumentLinks &operator=(const DocumentLinks &) = delete;

private:
    bool ready();

    std::string dir_;
    std::string token_;
    int folders_ = 0;
};
