// MD5 digests through OpenSSL's EVP interface.
#include "types/Md5.h"

#include <openssl/evp.h>

#include <memory>

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

struct CtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::string toHex(const Md5Digest& digest, bool grouped) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < digest.size(); ++i) {
    if (grouped && (i == 4 || i == 6 || i == 8 || i == 10)) out += '-';
    out += kDigits[digest[i] >> 4];
    out += kDigits[digest[i] & 0x0f];
  }
  return out;
}

}  // namespace

Md5Digest md5(const void* data, size_t n) {
  if (data == nullptr && n > 0) throw StatusEmptyArgument;
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  Md5Digest digest{};
  unsigned int length = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data, n) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != digest.size()) {
    throw StatusEngineFailure;
  }
  return digest;
}

std::string md5Hex(const void* data, size_t n) {
  return toHex(md5(data, n), false);
}

std::string md5Grouped(const void* data, size_t n) {
  return toHex(md5(data, n), true);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
