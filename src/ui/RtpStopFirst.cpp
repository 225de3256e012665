#include "RtpStopFirst.h"

#include "RDLanguage.h"
#include "RDMessageBox.h"

bool refuseWhileRunning(int startedSource)
{
    if (startedSource == 0)
        return false;
    showInformationBox(RDLanguage::translate(QStringLiteral("Please stop rtp")),
                       RDLanguage::translate(QStringLiteral("OK")),
                       RDLanguage::translate(QStringLiteral("Cancel")));
    return true;
}
