// The validator's random numbers: the same stream from the same seed on
// every target and standard library, which <random>'s distributions do not
// promise, so a failure seen on one machine can be replayed on another.
#ifndef VXHOST_VALIDATORRANDOM_H
#define VXHOST_VALIDATORRANDOM_H

#include <cstdint>

namespace vxhost {

class ValidatorRandom {
public:
    explicit ValidatorRandom(uint64_t seed) : m_state(seed) {}

    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [0, 1), from the top 53 bits.
    double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Uniform(double low, double high) { return low + (high - low) * Unit(); }
    // low..high inclusive; low <= high.
    int64_t Between(int64_t low, int64_t high) {
        const uint64_t span = static_cast<uint64_t>(high - low) + 1u;
        return low + static_cast<int64_t>(span == 0 ? Next() : Next() % span);
    }
    bool Chance(double probability) { return Unit() < probability; }

private:
    uint64_t m_state;
};

// A stateless hash of three numbers to [0, 1): streamed input samples are a
// function of their pin and clock, so any cutting of the blocks sees the same
// signal.
inline double HashUnit(uint64_t seed, uint64_t a, uint64_t b) {
    ValidatorRandom r(seed ^ (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full));
    r.Next();
    return r.Unit();
}

}  // namespace vxhost

#endif  // VXHOST_VALIDATORRANDOM_H
