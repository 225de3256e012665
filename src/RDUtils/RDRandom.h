#pragma once

#include <cstddef>
#include <cstdint>

// Unpredictable numbers from the kernel, for seeds, SSRCs, tags and temporary names. Never
// blocks: before the kernel's pool is ready, or without getrandom, the monotonic and wall
// clocks and a process-wide counter stand in, which still keeps two callers apart.
void randomBytes(void* out, size_t length);
uint32_t randomWord();
uint64_t randomSeed();
