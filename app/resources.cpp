#include "app/resources.h"

#include <QtGlobal>

void EnsureQuillmarkResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(quillmark);
        return true;
    }();
    (void)registered;
}
