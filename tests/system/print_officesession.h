#pragma once
// A plain LibreOffice for tests and benchmarks: its own profile, reached over a pipe, terminated (killed
// if need be) when the session ends. No time limits and no recovery: the program uses its own client.

#include <QString>
#include <QTemporaryDir>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/Reference.hxx>

#include <sys/types.h>

class OfficeSession
{
public:
    // profileDir: the office's profile folder, kept afterwards; empty: a temporary one.
    explicit OfficeSession(const QString &programDir, const QString &profileDir = QString());
    ~OfficeSession();

    // Starts the office and connects to it. False with *error filled when that fails.
    bool start(QString *error);
    com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> desktop() const { return desktop_; }

    OfficeSession(const OfficeSession &) = delete;
    OfficeSession &operator=(const OfficeSession &) = delete;

private:
    pid_t spawn();

    QString programDir_;
    QTemporaryDir profile_;
    QString profileDir_;
    QString pipe_;
    pid_t pid_ = 0;
    com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> desktop_;
};
