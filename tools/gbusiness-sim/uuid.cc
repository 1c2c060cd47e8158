#include "tools/gbusiness-sim/uuid.h"

#include <cstdio>
#include <random>

namespace qvpa::gbsim {

namespace {

std::mt19937_64& Engine() {
  thread_local std::mt19937_64 engine{(static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                      std::random_device{}()};
  return engine;
}

}  // namespace

std::string NewUuid() {
  const uint64_t high = (Engine()() & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;
  const uint64_t low = (Engine()() & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
  return buffer;
}

std::string NewKeyId() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<int> pick(0, sizeof(kAlphabet) - 2);
  std::string id(40, ' ');
  for (char& c : id) c = kAlphabet[pick(Engine())];
  return id;
}

}  // namespace qvpa::gbsim
