// The script format of qvpa-host and the values a script can reuse.
//
//   # comment                       (outside a request)
//   CALL <EXPORT> [expect=<code>] [until=<Element>=<value> [max=<n>] [every=<ms>]]
//   <request text, any number of lines>
//   END
//
// In a request, ${Name} is replaced by the text of element Name in the most recent result
// document that had it (entities decoded), ${Output} by the whole last output, ${ErrorMessage} by the
// last error text and ${env:NAME} by an environment variable. An unknown name is an error.
#ifndef QVPA_TOOLS_QVPA_HOST_HOST_SCRIPT_H_
#define QVPA_TOOLS_QVPA_HOST_HOST_SCRIPT_H_

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvpa::host {

struct ScriptStep {
  std::string export_name;
  std::string request;             // UTF-8, lines joined by "\n", before substitution
  std::optional<int> expect;       // result code the step must give
  std::string until_element;       // repeat until this element ...
  std::string until_value;         // ... has this text
  int max_calls = 1;
  int every_ms = 1000;
  int line = 0;                    // line of the CALL, for messages
};

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ScriptError naming the line for a malformed script.
std::vector<ScriptStep> ParseScript(const std::string& aText);

// Values remembered from earlier results.
class ResultValues {
 public:
  // Records every <Name>text</Name> of a result document, plus Output and ErrorMessage.
  void Record(const std::string& aOutput, const std::string& aError);
  std::optional<std::string> Find(const std::string& aName) const;
  // Replaces the ${...} references of aText; throws ScriptError for an unknown one.
  std::string Substitute(const std::string& aText) const;

 private:
  std::map<std::string, std::string> values_;
};

// Decodes the five XML entities that the result documents use.
std::string DecodeEntities(const std::string& aText);

}  // namespace qvpa::host

#endif  // QVPA_TOOLS_QVPA_HOST_HOST_SCRIPT_H_
