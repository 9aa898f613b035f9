#include "update/packageorigin.h"

bool PackageOriginAccepted(const std::string &)
{
    // No release key is built in: the package is judged by its names, its limits and the executable's
    // digest that the version server announced.
    return true;
}
