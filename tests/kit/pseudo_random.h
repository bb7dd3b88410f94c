// Reproducible pseudo-random data (portable): the same bytes for the same seed on every platform
// and in every run, with no runs or repeats that a compressor or a copy loop could take a
// shortcut through.
#ifndef UPDATER_TESTS_KIT_PSEUDO_RANDOM_H
#define UPDATER_TESTS_KIT_PSEUDO_RANDOM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kit {

// A linear congruential sequence of 16-bit values.
class RandomSequence {
public:
    explicit RandomSequence(uint32_t seed) : state_(seed) {}
    uint32_t Next()
    {
        state_ = state_ * 1103515245u + 12345u;
        return state_ >> 16;
    }

private:
    uint32_t state_;
};

// `size` bytes of the sequence, each the low byte of its value.
inline std::string RandomBytes(size_t size, uint32_t seed)
{
    RandomSequence sequence(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = (char)sequence.Next();
    return bytes;
}

}  // namespace kit

#endif
