#include "CrashWriter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <typeinfo>
#include <ucontext.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CRASH_WRITER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CRASH_WRITER_SANITIZED 1
#endif
#endif

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr int kBacktraceFrames = 64;
constexpr int kExceptionBytes = 512;

// All of the writer's state, set at install and only read by the handler.
char g_folder[CrashWriter::kFolderBytes];
char g_path[CrashWriter::kFolderBytes + 64];
char g_id[40];
char g_name[CrashWriter::kTextBytes];
char g_version[CrashWriter::kTextBytes];
char g_exception[kExceptionBytes];
std::atomic<bool> g_installed{false};
// The thread that writes the report (0: none yet).
std::atomic<long> g_owner{0};

thread_local void* t_signalStack = nullptr;

void copyText(char* target, size_t size, const char* text)
{
    size_t n = text ? strnlen(text, size - 1) : 0;
    if (n)
        memcpy(target, text, n);
    target[n] = '\0';
}

// Async-signal-safe output to one descriptor; remembers whether every write went through.
class Out
{
public:
    explicit Out(int fd) : m_fd(fd) {}

    bool ok() const { return m_ok; }

    void bytes(const char* data, size_t length)
    {
        while (length > 0) {
            const ssize_t n = write(m_fd, data, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ok = false;
                return;
            }
            data += n;
            length -= size_t(n);
        }
    }
    Out& operator<<(const char* text)
    {
        bytes(text, strlen(text));
        return *this;
    }
    Out& dec(long long value)
    {
        char buffer[24];
        int i = sizeof(buffer);
        const bool negative = value < 0;
        unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        do {
            buffer[--i] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (negative)
            buffer[--i] = '-';
        bytes(buffer + i, sizeof(buffer) - size_t(i));
        return *this;
    }
    Out& hex(unsigned long long value)
    {
        char buffer[18] = {'0', 'x'};
        for (int i = 0; i < 16; ++i)
            buffer[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xf];
        bytes(buffer, sizeof(buffer));
        return *this;
    }

private:
    int m_fd;
    bool m_ok = true;
};

const char* signalName(int number)
{
    switch (number) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
    }
}

// Copies a whole file (of /proc) into the report.
void copyFile(Out& out, const char* path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        out << "(cannot open " << path << ")\n";
        return;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.bytes(buffer, size_t(n));
    }
    close(fd);
}

void writeThreadName(Out& out, long tid)
{
    char path[64] = "/proc/self/task/";
    size_t length = strlen(path);
    char digits[24];
    int i = sizeof(digits);
    unsigned long v = static_cast<unsigned long>(tid);
    do {
        digits[--i] = char('0' + v % 10);
        v /= 10;
    } while (v);
    memcpy(path + length, digits + i, sizeof(digits) - size_t(i));
    length += sizeof(digits) - size_t(i);
    memcpy(path + length, "/comm", 6);
    char name[64] = {};
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t n = read(fd, name, sizeof(name) - 1);
        close(fd);
        if (n > 0 && name[n - 1] == '\n')
            name[n - 1] = '\0';
    }
    out << name;
}

void writeRegisters(Out& out, const void* context)
{
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
    if (!uc)
        return;
#if defined(__x86_64__)
    const struct
    {
        const char* name;
        int index;
    } registers[] = {{"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX}, {"rbx", REG_RBX},
                     {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"r8", REG_R8},
                     {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13},
                     {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};
    out << "pc: ";
    out.hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RIP]));
    out << " sp: ";
    out.hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RSP]));
    out << "\nregisters:\n";
    for (const auto& reg : registers) {
        out << "  " << reg.name << " ";
        out.hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[reg.index]));
        out << "\n";
    }
#elif defined(__aarch64__)
    out << "pc: ";
    out.hex(uc->uc_mcontext.pc);
    out << " sp: ";
    out.hex(uc->uc_mcontext.sp);
    out << "\nregisters:\n";
    for (int i = 0; i < 31; ++i) {
        out << "  x";
        out.dec(i) << " ";
        out.hex(uc->uc_mcontext.regs[i]);
        out << "\n";
    }
#else
    out << "registers: (not read on this processor)\n";
#endif
}

bool writeReport(int number, const siginfo_t* info, const void* context, long tid)
{
    const int fd = open(g_path, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    Out out(fd);
    out << g_name << " " << g_version << " crash report\ndump id: " << g_id << "\npid: ";
    out.dec(getpid()) << " tid: ";
    out.dec(tid) << " thread: ";
    writeThreadName(out, tid);
    out << "\nsignal: ";
    out.dec(number) << " (" << signalName(number) << ") code: ";
    out.dec(info ? info->si_code : 0) << " address: ";
    out.hex(info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
    out << "\n";
    writeRegisters(out, context);
    if (g_exception[0])
        out << "exception: " << g_exception << "\n";
    out << "backtrace:\n";
    void* frames[kBacktraceFrames];
    const int count = backtrace(frames, kBacktraceFrames);
    backtrace_symbols_fd(frames, count, fd);
    out << "maps:\n";
    copyFile(out, "/proc/self/maps");
    const bool ok = out.ok();
    return close(fd) == 0 && ok;
}

[[noreturn]] void endWith(int number)
{
    signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    // A signal that the default action does not end the process with (none of ours).
    _exit(128 + number);
}

void onFatalSignal(int number, siginfo_t* info, void* context)
{
    const long tid = syscall(SYS_gettid);
    long expected = 0;
    if (!g_owner.compare_exchange_strong(expected, tid)) {
        // A fault inside the handler itself ends the process at once; another thread's fault
        // waits for the report being written to end the process.
        if (expected == tid)
            endWith(number);
        for (;;)
            pause();
    }
    const bool written = writeReport(number, info, context, tid);
    Out err(STDERR_FILENO);
    err << (written ? "Succeed to write minidump" : "Failed to write minidump") << ", dump path: " << g_folder << "/"
        << g_id << "\n";
    endWith(number);
}

// Uncaught exceptions and pure virtual calls end in std::terminate: note what was thrown, then
// abort, which the signal handler reports. Not a signal handler: it may allocate.
[[noreturn]] void onTerminate()
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type) {
        int status = 0;
        char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        copyText(g_exception, sizeof(g_exception), status == 0 && readable ? readable : type->name());
        std::free(readable);
        try {
            throw;
        } catch (const std::exception& e) {
            const size_t used = strlen(g_exception);
            if (used + 3 < sizeof(g_exception)) {
                memcpy(g_exception + used, ": ", 3);
                copyText(g_exception + used + 2, sizeof(g_exception) - used - 2, e.what());
            }
        } catch (...) {
        }
    } else {
        copyText(g_exception, sizeof(g_exception), "std::terminate without an exception (a pure virtual call?)");
    }
    std::abort();
}

void makeUuid(char* out)
{
    unsigned char bytes[16] = {};
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = read(fd, bytes, sizeof(bytes));
        close(fd);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40); // RFC 4122 4.4: version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    int j = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[j++] = '-';
        out[j++] = "0123456789abcdef"[bytes[i] >> 4];
        out[j++] = "0123456789abcdef"[bytes[i] & 0xf];
    }
    out[j] = '\0';
}

} // namespace

bool CrashWriter::underSanitizer()
{
#ifdef CRASH_WRITER_SANITIZED
    return true;
#else
    return false;
#endif
}

bool CrashWriter::install(const char* folder, const char* name, const char* version)
{
    if (underSanitizer() || !folder || strlen(folder) >= sizeof(g_folder))
        return false;
    if (g_owner.load() != 0)
        return false;
    copyText(g_folder, sizeof(g_folder), folder);
    copyText(g_name, sizeof(g_name), name);
    copyText(g_version, sizeof(g_version), version);
    if (!g_id[0])
        makeUuid(g_id);
    const size_t length = strlen(g_folder);
    memcpy(g_path, g_folder, length);
    g_path[length] = '/';
    memcpy(g_path + length + 1, g_id, strlen(g_id));
    memcpy(g_path + length + 1 + strlen(g_id), ".dmp", 5);
    if (g_installed.load())
        return true;

    // The unwinder loads on first use, which allocates: not in the handler.
    void* frames[2];
    backtrace(frames, 2);

    g_installed.store(true);
    prepareThread();
    struct sigaction action = {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int number : kSignals)
        ok = sigaction(number, &action, nullptr) == 0 && ok;
    std::set_terminate(onTerminate);
    return ok;
}

bool CrashWriter::isInstalled()
{
    return g_installed.load();
}

const char* CrashWriter::dumpPath()
{
    return g_path;
}

const char* CrashWriter::dumpId()
{
    return g_id;
}

void CrashWriter::prepareThread()
{
    if (!g_installed.load() || t_signalStack)
        return;
    const size_t size = kSignalStackBytes > SIGSTKSZ ? size_t(kSignalStackBytes) : size_t(SIGSTKSZ);
    void* memory = std::malloc(size);
    if (!memory)
        return;
    stack_t stack = {};
    stack.ss_sp = memory;
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) != 0) {
        std::free(memory);
        return;
    }
    t_signalStack = memory;
}

void CrashWriter::releaseThread()
{
    if (!t_signalStack)
        return;
    stack_t stack = {};
    stack.ss_flags = SS_DISABLE;
    sigaltstack(&stack, nullptr);
    std::free(t_signalStack);
    t_signalStack = nullptr;
}
