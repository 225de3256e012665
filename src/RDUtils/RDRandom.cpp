#include "RDRandom.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/random.h>

namespace {

std::atomic<uint64_t> g_fallbackCounter{0};

uint64_t fallbackWord()
{
    timespec mono{};
    timespec wall{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_REALTIME, &wall);
    uint64_t x = uint64_t(mono.tv_nsec) ^ (uint64_t(mono.tv_sec) << 30) ^ (uint64_t(wall.tv_nsec) << 17) ^
                 uint64_t(wall.tv_sec) ^ (g_fallbackCounter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
    // splitmix64 finaliser, so neighbouring clock readings give unrelated words.
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

} // namespace

void randomBytes(void* out, size_t length)
{
    auto* bytes = static_cast<uint8_t*>(out);
    size_t got = 0;
    while (got < length) {
        const ssize_t n = getrandom(bytes + got, length - got, GRND_NONBLOCK);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    while (got < length) {
        const uint64_t word = fallbackWord();
        const size_t take = length - got < sizeof(word) ? length - got : sizeof(word);
        std::memcpy(bytes + got, &word, take);
        got += take;
    }
}

uint32_t randomWord()
{
    uint32_t value = 0;
    randomBytes(&value, sizeof(value));
    return value;
}

uint64_t randomSeed()
{
    uint64_t value = 0;
    randomBytes(&value, sizeof(value));
    return value;
}
