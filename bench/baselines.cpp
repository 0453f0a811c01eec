#include "baselines.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ferrytide::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kChunk = 1 << 20;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

double rawSealRate(int buffers) {
  std::vector<std::uint8_t> key(32, 7), nonce(12, 0), input(kChunk, 0x5a), output(kChunk + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
  EVP_EncryptInit_ex2(ctx, cipher, key.data(), nullptr, nullptr);
  auto start = Clock::now();
  for (int i = 0; i < buffers; ++i) {
    nonce[4] = static_cast<std::uint8_t>(i);
    int written = 0;
    EVP_EncryptInit_ex2(ctx, nullptr, nullptr, nonce.data(), nullptr);
    EVP_EncryptUpdate(ctx, output.data(), &written, input.data(), static_cast<int>(kChunk));
    EVP_EncryptFinal_ex(ctx, output.data() + written, &written);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, output.data() + kChunk);
  }
  double rate = static_cast<double>(kChunk) * buffers / secondsSince(start);
  EVP_CIPHER_free(cipher);
  EVP_CIPHER_CTX_free(ctx);
  return rate;
}

double ddRate(const std::filesystem::path& folder, std::size_t mib, bool flush) {
  const std::filesystem::path target = folder / "dd.bin";
  const std::string command = "dd if=/dev/zero of='" + target.string() +
                              "' bs=1M count=" + std::to_string(mib) +
                              (flush ? " conv=fdatasync" : "") + " status=none";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench: dd failed\n");
    std::exit(1);
  }
  const double elapsed = secondsSince(start);
  std::filesystem::remove(target);
  return static_cast<double>(mib * kChunk) / elapsed;
}

}  // namespace ferrytide::bench
