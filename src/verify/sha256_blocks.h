// SHA-256's compression function on the processor's SHA extensions, where it has them.
#pragma once

#include <cstddef>
#include <cstdint>

// True when this processor has the SHA extensions (and SSSE3/SSE4.1) the function below needs.
bool Sha256BlocksAvailable();

// Runs `blocks` 64-byte blocks of `data` through the compression function, updating `state`
// (a..h). Call only when Sha256BlocksAvailable().
void Sha256Blocks(uint32_t state[8], const uint8_t* data, size_t blocks);
