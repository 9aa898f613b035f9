#include "print/wordprocessor.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex factoryMutex;
WordProcessorFactory &installedFactory()
{
    static WordProcessorFactory factory;
    return factory;
}
} // namespace

void SetWordProcessorFactory(WordProcessorFactory factory)
{
    QMutexLocker lock(&factoryMutex);
    installedFactory() = std::move(factory);
}

std::unique_ptr<WordProcessor> CreateWordProcessor()
{
    WordProcessorFactory factory;
    {
        QMutexLocker lock(&factoryMutex);
        factory = installedFactory();
    }
    if (!factory)
        return nullptr;
    return factory();
}

WordProcessorFactory InstalledWordProcessorFactory()
{
    QMutexLocker lock(&factoryMutex);
    return installedFactory();
}
