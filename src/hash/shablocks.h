// Block functions behind the SHA-1 and SHA-256 APIs: a portable version and one using
// the x86 SHA extensions, chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

void sha256_blocks_portable(uint32_t state[8], const unsigned char* data, size_t blocks);
void sha1_blocks_portable(uint32_t state[5], const unsigned char* data, size_t blocks);

// Compiled only on x86; callable only when shaHaveCpuExtensions() says so.
void sha256_blocks_shani(uint32_t state[8], const unsigned char* data, size_t blocks);
void sha1_blocks_shani(uint32_t state[5], const unsigned char* data, size_t blocks);

// Whether the CPU has SHA, SSSE3 and SSE4.1; false when QMX_NO_CPU_SHA was set at the first call.
bool shaHaveCpuExtensions();
// Test and benchmark switch: true makes every later hash use the portable code.
void shaForcePortable(bool force);
// Whether hashes now use the CPU extensions.
bool shaUsingCpuExtensions();

// The 64 round constants, shared with the SHA extension code.
const uint32_t* sha256RoundConstants();

void sha256_blocks(uint32_t state[8], const unsigned char* data, size_t blocks);
void sha1_blocks(uint32_t state[5], const unsigned char* data, size_t blocks);
