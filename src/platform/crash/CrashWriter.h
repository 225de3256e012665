#pragma once

// Writes one crash report when the process dies of a fatal signal (a bad memory access, an
// illegal instruction, an arithmetic fault, abort, an uncaught exception, a pure virtual call)
// and then lets the process end with that signal.
//
// The report is a text file "<folder>/<dump id>.dmp": the program's name and version, the
// process, thread and signal, the registers, the exception's type, a backtrace and a copy of
// /proc/self/maps (so that addr2line can resolve the addresses later). Everything it needs is
// prepared at install, and the handler uses async-signal-safe calls only: no allocation, no
// stdio, no locks. The first thread to fault writes the report; others that fault meanwhile
// wait for the end.
//
// Under AddressSanitizer or ThreadSanitizer, which handle these signals themselves, nothing is
// installed.
class CrashWriter
{
public:
    // After the report, standard error gets "Succeed to write minidump, dump path: <folder>/<id>"
    // (or "Failed to write minidump, ...").
    static constexpr int kFolderBytes = 2048;
    static constexpr int kTextBytes = 128;
    // Worker threads need a stack of their own for the handler, or a stack overflow leaves no
    // report. 64 KiB holds the handler with room to spare.
    static constexpr int kSignalStackBytes = 64 * 1024;

    // Installs the handlers (once per process; a later call changes only the folder and the
    // texts). name and version go into the report. False when the folder text is too long or
    // the handlers cannot be installed, or under a sanitizer.
    static bool install(const char* folder, const char* name, const char* version);
    static bool isInstalled();
    // The file a crash would write, empty before install.
    static const char* dumpPath();
    // The dump id: a random UUID made at install.
    static const char* dumpId();

    // Gives the calling thread its own signal stack (every worker calls it at its start, while
    // the writer is installed) and frees it again (at its end).
    static void prepareThread();
    static void releaseThread();

    // Whether this build runs under a sanitizer that owns the fatal signals.
    static bool underSanitizer();
};
