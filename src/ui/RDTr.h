#pragma once

#include "RDLanguage.h"

#include <QString>

// The translation of an English text of the windows, looked up by its lower-cased key.
inline QString rdTr(const char* english)
{
    return RDLanguage::translate(QLatin1String(english));
}
