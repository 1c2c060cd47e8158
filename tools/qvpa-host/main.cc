// qvpa-host: a stand-in point-of-sale host. Loads the driver library at run time, calls
// one export with a request from a file, a text or standard input, or runs a script of
// calls on one loaded library, and prints each result document, error text and result code.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "base/text.h"
#include "tools/qvpa-host/driver_library.h"
#include "tools/qvpa-host/host_script.h"

namespace {

using qvpa::host::Answer;
using qvpa::host::DriverLibrary;

std::string DefaultLibrary() {
  const std::string folder = qvpa::host::ProgramFolder();
  const std::string beside = folder + qvpa::host::LibraryFileName();
  std::error_code ec;
  if (!folder.empty() && std::filesystem::exists(std::filesystem::u8path(beside), ec)) return beside;
  return QVPA_HOST_DEFAULT_LIBRARY;
}

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + aPath);
  return ReadAll(in);
}

void Print(const std::string& aExport, const Answer& a) {
  std::cout << "--- " << aExport << "\n";
  if (!a.output.empty()) std::cout << a.output << "\n";
  std::cout << "--- error text: " << a.error << "\n--- result: " << a.result << "\n" << std::flush;
}

int RunScript(DriverLibrary& aLibrary, const std::string& aScript) {
  using qvpa::host::ScriptError;
  const auto steps = qvpa::host::ParseScript(aScript);
  qvpa::host::ResultValues values;
  for (const auto& step : steps) {
    Answer answer;
    bool reached = step.until_element.empty();
    for (int call = 1; call <= step.max_calls; ++call) {
      answer = aLibrary.Call(step.export_name, values.Substitute(step.request));
      values.Record(answer.output, answer.error);
      Print(step.export_name, answer);
      if (!step.until_element.empty() &&
          values.Find(step.until_element).value_or("") == step.until_value) {
        reached = true;
        break;
      }
      if (call < step.max_calls) std::this_thread::sleep_for(std::chrono::milliseconds(step.every_ms));
    }
    if (!reached) {
      std::cerr << "line " << step.line << ": " << step.until_element << " never became "
                << step.until_value << "\n";
      return 1;
    }
    if (step.expect && *step.expect != answer.result) {
      std::cerr << "line " << step.line << ": " << step.export_name << " gave " << answer.result
                << ", expected " << *step.expect << "\n";
      return 1;
    }
  }
  return 0;
}

void Usage() {
  std::cerr << "usage: qvpa-host [--library PATH] EXPORT [--text TEXT | FILE | -]\n"
               "       qvpa-host [--library PATH] [--repeat N] --script FILE\n"
               "Calls an export of the driver library (default: " << qvpa::host::LibraryFileName()
            << " beside this tool) with the request\ntext, the file or standard input, and "
               "prints the result document, error text and result code.\nWith --repeat the library is "
               "loaded, the script run and the library unloaded N times.\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = DefaultLibrary();
  std::string script;
  std::string export_name;
  std::string text;
  std::string file;
  bool have_text = false;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--library" && has_value) {
      library = argv[++i];
    } else if (arg == "--script" && has_value) {
      script = argv[++i];
    } else if (arg == "--repeat" && has_value) {
      repeat = std::atoi(argv[++i]);
      if (repeat < 1) {
        Usage();
        return 2;
      }
    } else if (arg == "--text" && has_value) {
      text = argv[++i];
      have_text = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else if (export_name.empty() && script.empty() && arg[0] != '-') {
      export_name = arg;
    } else if (file.empty()) {
      file = arg;
    } else {
      Usage();
      return 2;
    }
  }
  if (script.empty() == export_name.empty()) {
    Usage();
    return 2;
  }
  try {
    if (!script.empty()) {
      const std::string script_text = ReadFileText(script);
      for (int round = 1; round <= repeat; ++round) {
        {
          DriverLibrary driver(library);
          if (const int rc = RunScript(driver, script_text); rc != 0) return rc;
        }
        // Each round must start from a fresh library, as a host that unloads expects.
        if (repeat > 1 && !qvpa::host::WaitUntilUnloaded(library, std::chrono::seconds(10))) {
          std::cerr << "round " << round << ": the library is still loaded after unloading\n";
          return 1;
        }
      }
      return 0;
    }
    DriverLibrary driver(library);
    std::string request = text;
    if (!have_text) request = (file.empty() || file == "-") ? ReadAll(std::cin) : ReadFileText(file);
    Print(export_name, driver.Call(export_name, request));
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qvpa-host: " << e.what() << "\n";
    return 2;
  }
}
