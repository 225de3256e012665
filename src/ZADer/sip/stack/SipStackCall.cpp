#include "SipStackCall.h"

#include <osip2/osip_dialog.h>

SipStackCall::~SipStackCall()
{
    if (dialog)
        osip_dialog_free(dialog);
}
