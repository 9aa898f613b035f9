#include "platform/listingorder.h"

QDir::SortFlags FolderListingOrder()
{
    return QDir::NoSort;
}
