#include "platform/localcodec.h"

#include <QTextCodec>
#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

void InitLocal8BitCodec()
{
    // The locale the environment asks for, read without changing the process's own locale, so the answer
    // does not depend on whether QCoreApplication has already called setlocale().
    bool keepLocaleCodec = false;
    if (locale_t wanted = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
        const char *codeset = nl_langinfo_l(CODESET, wanted);
        const bool plainAscii = codeset == nullptr || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
                                std::strcmp(codeset, "ASCII") == 0;
        keepLocaleCodec = !plainAscii && std::strcmp(codeset, "UTF-8") != 0;
        freelocale(wanted);
    }
    if (keepLocaleCodec)
        return;
    if (QTextCodec *utf8 = QTextCodec::codecForName("UTF-8"))
        QTextCodec::setCodecForLocale(utf8);
}
