// MD5 digests (RFC 1321) of byte ranges, for catalog ids and the catalog key in kernel-object
// names. Internal to the library. Thread-safe.
#ifndef VENDRITHANE_TYPES_MD5_H
#define VENDRITHANE_TYPES_MD5_H

#include <array>
#include <cstddef>
#include <string>

namespace KESTRIN {
namespace Vendrithane {

using Md5Digest = std::array<unsigned char, 16>;

// The digest of n bytes at data (data may be null when n is 0). Throws StatusEmptyArgument
// for a null data with n > 0 and StatusEngineFailure when the crypto library fails.
Md5Digest md5(const void* data, size_t n);

// The digest as 32 lower-case hexadecimal digits.
std::string md5Hex(const void* data, size_t n);

// The digest as 32 lower-case hexadecimal digits grouped 8-4-4-4-12 with dashes.
std::string md5Grouped(const void* data, size_t n);

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_TYPES_MD5_H
