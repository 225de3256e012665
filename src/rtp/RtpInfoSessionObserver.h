#pragma once

class RtpInfoSession;

// What a channel session reports. The channel manager implements it.
//
// onSessionStarted, onSourceChanged and onSessionFinished run on the session's send thread, the
// others on the sources' reader threads; none of them with the session lock held. A thread that
// stops the session waits for these threads, so an implementation must not take any lock that
// such a stopper may hold (the manager's session list, above all): it queues the event and
// returns.
class RtpInfoSessionObserver
{
public:
    virtual ~RtpInfoSessionObserver() = default;

    // The send loop has started, before its first pass.
    virtual void onSessionStarted(RtpInfoSession*) {}
    // The send loop has ended, whatever ended it (a stop from outside included).
    virtual void onSessionFinished(RtpInfoSession*) {}
    // The packet just taken comes from another source kind than the one before it.
    virtual void onSourceChanged(RtpInfoSession*) {}
    // The playlist source opened item index.
    virtual void onFilesItemOpened(RtpInfoSession*, int /*index*/) {}
    // The stream source opened its URL.
    virtual void onStreamOpened(RtpInfoSession*) {}
    // The stream source reached the end of its stream.
    virtual void onStreamEnd(RtpInfoSession*) {}
    // The bell source opened its file.
    virtual void onFileOpened(RtpInfoSession*) {}
    // The bell source's reader finished.
    virtual void onFileFinished(RtpInfoSession*) {}
};
