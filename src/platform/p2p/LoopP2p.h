#pragma once

// A P2P device library for one machine: remote apps reach a device logged in under a UID,
// open sessions to it, start one AV channel per session and exchange typed IO-control
// messages and audio frames both ways. Sessions are AF_UNIX stream connections to the
// abstract name "\0loopp2p/<uid>" (scoped to the network namespace, freed when the device
// closes or dies). The calls and records follow what the program's P2P server needs of a
// vendor SDK; nothing else of such an SDK is claimed.
//
// One device per process. Every call is thread-safe and may come from any thread; a call that
// waits is woken by the close of its session, an AV stop, avServExit or a de-initialisation.
// Results of 0 or more are successes (an id, an index, a length); failures are the negative
// codes below.

#include <cstddef>
#include <cstdint>

enum LoopP2pCode : int
{
    // The caller's retry sets: IOTC_Listen retries on these two ...
    LoopP2pListenTimeout = -13,   // no session arrived in time
    LoopP2pListenRefused = -18,   // a session came and was refused: the session limit is reached
    // ... and the receives on these (0 included: an empty message counts as nothing).
    LoopP2pRecvTimeout = -20011,  // nothing arrived in time
    LoopP2pRecvTooLarge = -20012, // the oldest message did not fit the buffer and was dropped

    LoopP2pNotInitialized = -1001,
    LoopP2pBadArgument = -1002,   // a null, a wrong record size field, a malformed UID
    LoopP2pUidInUse = -1003,      // another device holds the UID
    LoopP2pNotLoggedIn = -1004,   // not logged in, or (at login) already logged in
    LoopP2pNoSession = -1005,     // unknown or closed session
    LoopP2pNoAv = -1006,          // unknown or stopped AV index
    LoopP2pPeerClosed = -1007,    // the remote app closed and everything it sent was read
    LoopP2pAvTimeout = -1008,     // no AV start request within the start's time-out
    LoopP2pAvAborted = -1009,     // avServExit, a session close or a de-initialisation
    LoopP2pAvDenied = -1010,      // the start's authCheck refused the account
    LoopP2pAvLimit = -1011,       // as many AV servers as avInitialize allowed are running
    LoopP2pSendFailed = -1012,    // the peer is gone or stalled a send for 2 s; session shut down
    LoopP2pNoDevice = -1013,      // client: no device is logged in under the UID
    LoopP2pNoAnswer = -1014       // client: the device did not answer in time
};

// Records passed by address; their sizes and offsets are fixed (LP64), and the size field of
// each must hold the record's size.
struct LoopP2pLoginInput
{
    uint32_t size;       // 16
    uint32_t reserved;
    char authKey[8];     // not checked by this library
};
static_assert(sizeof(LoopP2pLoginInput) == 16, "login input layout");
static_assert(offsetof(LoopP2pLoginInput, authKey) == 8, "login input layout");

using LoopP2pAuthCheck = int (*)(const char* account, const char* password);
using LoopP2pQueryReply = void (*)(void* context, const char* text, int length, void* user);
using LoopP2pQueryA = void (*)(void* context, LoopP2pQueryReply reply, void* arg, void* user);
using LoopP2pQueryB = int (*)(void* context);

struct LoopP2pAvStartInput
{
    uint32_t size;       // 104
    int32_t session;
    uint8_t channel;
    uint8_t reserved0[3];
    uint32_t timeoutSeconds;  // 0 waits until aborted
    uint32_t value16;         // ignored
    uint32_t value20;         // ignored
    uint8_t reserved1[8];
    LoopP2pAuthCheck authCheck;  // 0 accepts the account; null accepts every account
    uint8_t reserved2[32];
    LoopP2pQueryA queryA;        // never called
    LoopP2pQueryB queryB;        // never called
    uint8_t reserved3[16];
};
static_assert(sizeof(LoopP2pAvStartInput) == 104, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, session) == 4, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, channel) == 8, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, timeoutSeconds) == 12, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, value16) == 16, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, value20) == 20, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, authCheck) == 32, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, queryA) == 72, "AV start input layout");
static_assert(offsetof(LoopP2pAvStartInput, queryB) == 80, "AV start input layout");

struct LoopP2pAvStartOutput
{
    uint32_t size;       // 272
    uint32_t value4;
    uint32_t value8;
    uint8_t reserved[260];
};
static_assert(sizeof(LoopP2pAvStartOutput) == 272, "AV start output layout");
static_assert(offsetof(LoopP2pAvStartOutput, value8) == 8, "AV start output layout");

// Travels verbatim with each audio frame.
struct LoopP2pFrameInfo
{
    uint16_t codec;
    uint8_t flags;
    uint8_t reserved[13];
};
static_assert(sizeof(LoopP2pFrameInfo) == 16, "frame info layout");
static_assert(offsetof(LoopP2pFrameInfo, flags) == 2, "frame info layout");

// Device life: initialise, log in, listen for sessions, close them, de-initialise. A later
// IOTC_Initialize2 after IOTC_DeInitialize starts afresh.
int IOTC_Initialize2(unsigned short udpPort);
// At most count sessions not yet closed (one at EOF still counts until IOTC_Session_Close).
int IOTC_Set_Max_Session_Number(unsigned int count);
// 0, or -1001, -1002, -1003 (UID held) or -1004 (already logged in).
int IOTC_Device_LoginEx(const char* uid, const LoopP2pLoginInput* input);
// Waits up to timeoutMs for a session: its id (from 0, never reused), -13 when none came,
// -18 when one came over the limit (it is told so and closed), -1004 or -1001.
int IOTC_Listen(unsigned int timeoutMs);
// 0 (one AV channel per session) or -1005.
int IOTC_Session_Get_Free_Channel(int sessionId);
// Wakes every call on the session, joins its reader and closes it: 0, or -1005 when unknown.
int IOTC_Session_Close(int sessionId);
// Frees the UID, closes every session (remote apps see EOF) and wakes every wait.
int IOTC_DeInitialize();

// At most maxAv AV servers; returns maxAv.
int avInitialize(int maxAv);
// Stops every AV server.
int avDeInitialize();
// Waits for the remote app's AV start request, asks authCheck and answers: an AV index (from
// 0, never reused), -1010 when refused, -1008 on time-out, -1009 when aborted, -1007 when the
// app left; -1001, -1002, -1005 or -1011 at once.
int avServStartEx(const LoopP2pAvStartInput* input, LoopP2pAvStartOutput* output);
// Aborts a start pending on the session's channel; one that comes after it fails at once.
int avServExit(int sessionId, unsigned char channel);
// Ends the AV server: every wait on it, and every later call, gives -1006. The session stays.
int avServStop(int avIndex);
// The oldest IO-control message: its length, with its type in *type; -20011 after timeoutMs
// without one, -20012 when it exceeds size (dropped), -1007 once the app left and none is left.
int avRecvIOCtrl(int avIndex, unsigned int* type, char* buffer, int size, unsigned int timeoutMs);
// The same for audio frames, waiting at most 10 ms; the frame's 16 info bytes go to info
// (infoSize at least 16) and *frameNumber counts the frames delivered on this AV server.
int avRecvAudioData(int avIndex, char* buffer, int size, char* info, int infoSize,
                    unsigned int* frameNumber);
// Write one message or frame: 0, or -1012 (the session is then shut down).
int avSendIOCtrl(int avIndex, unsigned int type, const char* data, int length);
int avSendAudioData(int avIndex, const char* data, int length, const void* info, int infoSize);
