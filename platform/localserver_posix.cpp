#include "platform/localserver.h"

// No COM here: nothing to watch.
struct LocalServerWatch::Data
{
};

LocalServerWatch::LocalServerWatch(const wchar_t *) {}
LocalServerWatch::~LocalServerWatch() = default;

std::unique_ptr<LocalServerProcess> LocalServerWatch::started(Miss *miss) const
{
    if (miss)
        *miss = Miss::NotRegistered;
    return nullptr;
}
