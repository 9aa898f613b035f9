#pragma once
// File names as the file system holds them, carried in a QString without loss.
//
// On Linux a name is any byte string. Bytes that are not part of valid UTF-8 are kept as the lone
// surrogates U+DC80..U+DCFF (the byte plus 0xDC00), so a name in GBK or with a stray 0xFF byte survives
// the trip through QString and comes back as the same bytes. Valid UTF-8 never decodes to such a
// surrogate, so the mapping cannot collide with a real name. On Windows names are UTF-16 already; the
// 8-bit form is the ANSI code page, as everywhere else in the program.

#include <QByteArray>
#include <QString>

QString DecodeFileName(const QByteArray &bytes);
QByteArray EncodeFileName(const QString &name);
