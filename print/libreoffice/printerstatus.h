#pragma once
// What the user is told about the default printer: empty when printing can go ahead.

#include "print/libreoffice/cupsqueue.h"

#include <QString>

QString DestinationText(const cupsqueue::Destination &destination);
QString ProblemText(cupsqueue::Problem problem, const std::string &destination);
