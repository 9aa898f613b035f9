#include "platform/listingorder.h"

QDir::SortFlags FolderListingOrder()
{
    return QDir::Name | QDir::IgnoreCase;
}
