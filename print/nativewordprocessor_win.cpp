#include "print/nativewordprocessor.h"

#include "print/axwordprocessor.h"
#include "print/wordprocessor.h"

void InstallNativeWordProcessor()
{
    SetWordProcessorFactory([] { return std::make_unique<AxWordProcessor>(); });
}
