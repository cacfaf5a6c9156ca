// Fuzz target: the bounded text helpers on arbitrary bytes. Every buffer is a
// heap block of exactly its capacity, so one byte too many is a report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/text.h"

namespace {

// Capacities up to a little past the path capacity.
constexpr std::size_t kMaxCapacity = qri::kPathCapacity + 40;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool TerminatedWithin(const char *buffer, std::size_t capacity)
{
    return std::memchr(buffer, '\0', capacity) != nullptr;
}

} // namespace

// Input: two bytes of capacity, one of the used count, then two texts split
// at the first zero byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    std::size_t capacity = (data[0] | (data[1] << 8)) % (kMaxCapacity + 1);
    std::size_t used = data[2] % (capacity + 3);
    const std::uint8_t *rest = data + 3;
    std::size_t restSize = size - 3;

    const void *zero = std::memchr(rest, '\0', restSize);
    std::size_t firstLength = zero ? static_cast<const std::uint8_t *>(zero) - rest : restSize;
    std::vector<char> first(rest, rest + firstLength);
    first.push_back('\0');
    std::vector<char> second;
    if (zero)
        second.assign(rest + firstLength + 1, rest + restSize);
    second.push_back('\0');
    const char *a = first.data();
    const char *b = second.data();

    qri::ParseDecimal(a);
    qri::ParseDecimal(b);
    qri::EqualsNoCaseAscii(a, b);
    qri::StartsWithNoCaseAscii(a, b);
    qri::StartsWithNoCaseAscii(b, a);

    char *dest = static_cast<char *>(std::malloc(capacity));
    bool fits = qri::CopyBounded(dest, capacity, a);
    Require(fits == (std::strlen(a) < capacity));
    if (capacity > 0)
        Require(TerminatedWithin(dest, capacity) && std::strncmp(dest, a, capacity - 1) == 0);

    fits = qri::FormatBounded(dest, capacity, "\n%s under %s: %d", a, b, qri::ParseDecimal(b));
    if (capacity > 0)
        Require(TerminatedWithin(dest, capacity));
    if (fits)
        Require(std::strlen(dest) < capacity);
    std::free(dest);

    // What a reader or the registry left: raw bytes filling the buffer.
    char *raw = static_cast<char *>(std::malloc(capacity));
    for (std::size_t i = 0; i < capacity; ++i)
        raw[i] = restSize > 0 ? static_cast<char>(rest[i % restSize]) : 'A';
    if (qri::TerminateWithin(raw, capacity, used))
        Require(TerminatedWithin(raw, capacity));
    std::free(raw);
    return 0;
}
