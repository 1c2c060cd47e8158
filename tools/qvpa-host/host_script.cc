#include "tools/qvpa-host/host_script.h"

#include <cstdlib>
#include <sstream>

namespace qvpa::host {
namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

int ToInt(const std::string& aText, int aLine) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(aText, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != aText.size()) {
    throw ScriptError("line " + std::to_string(aLine) + ": not a number: " + aText);
  }
  return value;
}

void ReadOption(const std::string& aOption, ScriptStep& aStep) {
  const size_t eq = aOption.find('=');
  const std::string key = aOption.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : aOption.substr(eq + 1);
  if (key == "expect") {
    aStep.expect = ToInt(value, aStep.line);
  } else if (key == "until") {
    const size_t split = value.find('=');
    if (split == std::string::npos || split == 0) {
      throw ScriptError("line " + std::to_string(aStep.line) + ": until needs Element=value");
    }
    aStep.until_element = value.substr(0, split);
    aStep.until_value = value.substr(split + 1);
  } else if (key == "max") {
    aStep.max_calls = ToInt(value, aStep.line);
  } else if (key == "every") {
    aStep.every_ms = ToInt(value, aStep.line);
  } else {
    throw ScriptError("line " + std::to_string(aStep.line) + ": unknown option " + aOption);
  }
}

}  // namespace

std::vector<ScriptStep> ParseScript(const std::string& aText) {
  std::vector<ScriptStep> steps;
  std::istringstream in(aText);
  std::string raw;
  int line = 0;
  bool in_request = false;
  std::vector<std::string> request_lines;
  while (std::getline(in, raw)) {
    ++line;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::string text = Trim(raw);
    if (in_request) {
      if (text == "END") {
        std::string joined;
        for (size_t i = 0; i < request_lines.size(); ++i) {
          if (i > 0) joined += '\n';
          joined += request_lines[i];
        }
        steps.back().request = joined;
        request_lines.clear();
        in_request = false;
      } else {
        request_lines.push_back(raw);
      }
      continue;
    }
    if (text.empty() || text[0] == '#') continue;
    std::istringstream words(text);
    std::string keyword;
    words >> keyword;
    if (keyword != "CALL") {
      throw ScriptError("line " + std::to_string(line) + ": expected CALL, found " + text);
    }
    ScriptStep step;
    step.line = line;
    if (!(words >> step.export_name)) {
      throw ScriptError("line " + std::to_string(line) + ": CALL needs an export name");
    }
    std::string option;
    while (words >> option) ReadOption(option, step);
    if (step.max_calls < 1 || step.every_ms < 0) {
      throw ScriptError("line " + std::to_string(line) + ": max must be >= 1, every >= 0");
    }
    if (step.until_element.empty()) step.max_calls = 1;
    steps.push_back(step);
    in_request = true;
  }
  if (in_request) {
    throw ScriptError("line " + std::to_string(steps.back().line) + ": CALL without END");
  }
  return steps;
}

std::string DecodeEntities(const std::string& aText) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  std::string out;
  for (size_t i = 0; i < aText.size();) {
    bool replaced = false;
    if (aText[i] == '&') {
      for (const auto& [entity, ch] : kEntities) {
        const std::string e(entity);
        if (aText.compare(i, e.size(), e) == 0) {
          out += ch;
          i += e.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += aText[i++];
  }
  return out;
}

void ResultValues::Record(const std::string& aOutput, const std::string& aError) {
  values_["Output"] = aOutput;
  values_["ErrorMessage"] = aError;
  size_t at = 0;
  while ((at = aOutput.find('<', at)) != std::string::npos) {
    const size_t close = aOutput.find('>', at);
    if (close == std::string::npos) break;
    const std::string name = aOutput.substr(at + 1, close - at - 1);
    if (name.empty() || name[0] == '/') {
      at = close;
      continue;
    }
    const std::string end_tag = "</" + name + ">";
    const size_t end = aOutput.find(end_tag, close);
    if (end == std::string::npos) {
      at = close;
      continue;
    }
    values_[name] = DecodeEntities(aOutput.substr(close + 1, end - close - 1));
    at = end + end_tag.size();
  }
}

std::optional<std::string> ResultValues::Find(const std::string& aName) const {
  const auto it = values_.find(aName);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string ResultValues::Substitute(const std::string& aText) const {
  std::string out;
  size_t at = 0;
  while (true) {
    const size_t open = aText.find("${", at);
    if (open == std::string::npos) break;
    const size_t close = aText.find('}', open);
    if (close == std::string::npos) break;
    out += aText.substr(at, open - at);
    const std::string name = aText.substr(open + 2, close - open - 2);
    std::optional<std::string> value;
    if (name.rfind("env:", 0) == 0) {
      if (const char* env = std::getenv(name.substr(4).c_str())) value = env;
    } else {
      value = Find(name);
    }
    if (!value) throw ScriptError("no value for ${" + name + "}");
    out += *value;
    at = close + 1;
  }
  return out + aText.substr(at);
}

}  // namespace qvpa::host
