#include "tools/gbusiness-sim/answer.h"

#include <random>

namespace qvpa::gbsim {

namespace {

std::string TraceWord() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, sizeof(kAlphabet) - 2);
  std::string word(8, ' ');
  for (char& c : word) c = kAlphabet[pick(engine)];
  return word;
}

}  // namespace

Answer JsonAnswer(const nlohmann::json& value, int status) {
  return Answer{status, value.dump(), "application/json"};
}

Answer ErrorAnswer(int status, int code, const std::string& message) {
  return JsonAnswer({{"code", code}, {"message", message}, {"wlt", TraceWord()}}, status);
}

Answer PlainErrorAnswer(int status, const std::string& text) {
  return Answer{status, text, "text/plain"};
}

}  // namespace qvpa::gbsim
