#include "RDModalHook.h"

namespace {

RDModalHook* g_hook = nullptr;

} // namespace

void RDModalHook::setInstance(RDModalHook* hook)
{
    g_hook = hook;
}

RDModalHook* RDModalHook::instance()
{
    return g_hook;
}
