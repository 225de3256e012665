#pragma once

#include <QString>

// The fields of a decoded connection code.
class VexaCodeInfo
{
public:
    QString version;
    QString kind;
    // "P0" in the codes this program builds; empty in codes of a version other than "01".
    QString platform;
    // A P2P UID, or the ip:port of the WebSocket API.
    QString payload;
};
