// An answer of the simulated service: status, body and content type, plus the service's error
// body {"code", "message", "wlt"}.
#ifndef QVPA_TOOLS_GBUSINESS_SIM_ANSWER_H_
#define QVPA_TOOLS_GBUSINESS_SIM_ANSWER_H_

#include <string>

#include <nlohmann/json.hpp>

namespace qvpa::gbsim {

struct Answer {
  int status = 200;
  std::string body;
  std::string content_type = "application/json";
};

// 200 with the JSON value as body.
Answer JsonAnswer(const nlohmann::json& value, int status = 200);

// An error in the service's JSON shape; "wlt" is a random trace word.
Answer ErrorAnswer(int status, int code, const std::string& message);

// An error answered as plain text, as some older endpoints do.
Answer PlainErrorAnswer(int status, const std::string& text);

}  // namespace qvpa::gbsim

#endif  // QVPA_TOOLS_GBUSINESS_SIM_ANSWER_H_
