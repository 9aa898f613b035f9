#include "print/nativewordprocessor.h"

#include "print/libreoffice/libreofficewordprocessor.h"
#include "print/wordprocessor.h"

void InstallNativeWordProcessor()
{
    SetWordProcessorFactory([] { return std::make_unique<LibreOfficeWordProcessor>(); });
}
