#include "SonarisSettings.h"

#include "RDString.h"

int SonarisSettings::flagValue(const QString& text)
{
    return toInt(text.toStdString(), 0);
}

int SonarisSettings::portValue(const QString& text, int defaultPort)
{
    const int value = toInt(text.toStdString(), 0);
    return value > 0 && value <= 65535 ? value : defaultPort;
}
