#pragma once

// Told around the replacement of the channel database file (an import, or an upgrade): whoever
// keeps a long-lived connection to it closes that connection at the beginning and opens it
// again at the end. Both are called on the thread that replaces the file, with the observer
// list locked: an observer must not add or remove observers from inside them.
class ZvDBObserver
{
public:
    virtual ~ZvDBObserver() = default;
    virtual void onImportBegin() {}
    virtual void onImportEnd() {}
};
