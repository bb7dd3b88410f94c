// SHA-256, small enough for the stub: the delta entries name the old file they apply to and the
// file they make by this hash, and the updater checks both before a file takes its name.
#ifndef UPDATER_PACKAGE_SHA256_H
#define UPDATER_PACKAGE_SHA256_H

#include <stddef.h>
#include <stdint.h>

#define SHA256_SIZE 32

struct Sha256Context {
    uint32_t state[8];
    uint64_t length;  // bytes hashed so far
    unsigned char block[64];
    // The portable rounds, or the processor's SHA extensions where it has them.
    void (*hashBlocks)(uint32_t state[8], const unsigned char* blocks, size_t count);
};

void Sha256Init(Sha256Context* context);
void Sha256Update(Sha256Context* context, const void* data, size_t size);
void Sha256Final(Sha256Context* context, unsigned char digest[SHA256_SIZE]);

// The two ways blocks are hashed, each open so that tests can hold one to the other; the
// extensions' way only where Sha256Init chose it.
void Sha256BlocksPortable(uint32_t state[8], const unsigned char* blocks, size_t count);
void Sha256BlocksWithExtensions(uint32_t state[8], const unsigned char* blocks, size_t count);

#endif
