#include "RDHttpStreamServerObserver.h"

void RDHttpStreamServerObserver::onListening(RDHttpStreamServer*, const RDSocketAddress&) {}

void RDHttpStreamServerObserver::onListenFailed(RDHttpStreamServer*, const RDSocketAddress&) {}

void RDHttpStreamServerObserver::onRequest(RDHttpStreamServer*, RDHttpConnection*, RDHttpBaseRequest*) {}
