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

// With --show-requests each request (after substitution) is printed before its result.
bool show_requests = false;

void PrintRequest(const std::string& aExport, const std::string& aRequest) {
  if (!show_requests) return;
  std::cout << "--- " << aExport << " request:\n" << aRequest;
  if (aRequest.empty() || aRequest.back() != '\n') std::cout << "\n";
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
      const std::string request = values.Substitute(step.request);
      PrintRequest(step.export_name, request);
      answer = aLibrary.Call(step.export_name, request);
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

void Usage(std::ostream& out) {
  out << "usage: qvpa-host [--library PATH] [--show-requests] EXPORT [--text TEXT | FILE | -]\n"
         "       qvpa-host [--library PATH] [--show-requests] [--repeat N] --script FILE\n"
         "\n"
         "Loads the driver library (default: " << qvpa::host::LibraryFileName()
      << " beside this tool) like a point-of-sale\n"
         "host, calls an export with the request text, the file or standard input, and prints\n"
         "the result document, the error text and the result code.\n"
         "\n"
         "A single call loads the library, calls it and unloads it: no device handle survives\n"
         "from one run to the next. Use a script for a session (OPEN, PAY, ..., CLOSE).\n"
         "With --repeat the library is loaded, the script run and the library unloaded N times.\n"
         "With --show-requests each request is printed before its result.\n"
         "\n"
         "Exports (each: request in, result document, error text and result code out):\n"
         "  OPEN            open a device: <Driver>, <LogId>, <Connection>, <Parameters>\n"
         "  CLOSE           close the device of <Handle>\n"
         "  PAY             <Handle> and <Payment>: PAY (BEGIN, DO, COMMIT, ROLLBACK), REFUND, VOID\n"
         "  REPRINT         <Handle> and <Reprint>\n"
         "  GETSTATUS       no request; always 0\n"
         "  DAYCLOSE        <Handle> and <DayClose>\n"
         "  GETTOTALS       <Handle> and <GetTotals>\n"
         "  VERIFYTRAN      <Handle> and <VerifyTran><ReceiptId>reference</ReceiptId>\n"
         "  VERSION         a driver name, e.g. QVPA_SATISPAY_10\n"
         "  GENERATE_KEYID  token=<activation token>|staging=<true|false>; 1 on success\n"
         "\n"
         "Script syntax:\n"
         "  # comment                      (outside a request)\n"
         "  CALL <EXPORT> [expect=<code>] [until=<Element>=<value> [max=<n>] [every=<ms>]]\n"
         "  <request, any number of lines>\n"
         "  END\n"
         "In a request ${Name} is the text of element Name in the latest result that had it,\n"
         "${Output} the whole last result, ${ErrorMessage} the last error text and ${env:NAME}\n"
         "an environment variable. expect= stops the script when the result code differs;\n"
         "until= repeats the call (at most max times, every ms apart) until the element has the\n"
         "value.\n"
         "\n"
         "Example:\n"
         "  CALL OPEN expect=0\n"
         "  <Request><Driver>QVPA_SATISPAY_10</Driver><LogId>POS1</LogId>\n"
         "    <Connection><Type>http</Type></Connection>\n"
         "    <Parameters><KeyID>${env:KEYID}</KeyID></Parameters></Request>\n"
         "  END\n"
         "  CALL PAY expect=0\n"
         "  <Request><Handle>${Handle}</Handle><Payment><Action>PAY</Action><Phase>BEGIN</Phase>\n"
         "    <Amount>12.50</Amount><Currency>EUR</Currency><Reference>R-1</Reference></Payment></Request>\n"
         "  END\n"
         "  CALL PAY until=Error=False max=60 every=1000\n"
         "  <Request><Handle>${Handle}</Handle><Payment><Action>PAY</Action><Phase>DO</Phase>\n"
         "    <Attributes>${PaymentNumber}</Attributes></Payment></Request>\n"
         "  END\n"
         "  CALL PAY expect=0\n"
         "  <Request><Handle>${Handle}</Handle><Payment><Action>PAY</Action><Phase>COMMIT</Phase></Payment></Request>\n"
         "  END\n"
         "  CALL CLOSE expect=0\n"
         "  <Request><Handle>${Handle}</Handle></Request>\n"
         "  END\n";
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
        Usage(std::cerr);
        return 2;
      }
    } else if (arg == "--show-requests") {
      show_requests = true;
    } else if (arg == "--text" && has_value) {
      text = argv[++i];
      have_text = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage(std::cout);
      return 0;
    } else if (export_name.empty() && script.empty() && arg[0] != '-') {
      export_name = arg;
    } else if (file.empty()) {
      file = arg;
    } else {
      Usage(std::cerr);
      return 2;
    }
  }
  if (script.empty() == export_name.empty()) {
    Usage(std::cerr);
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
    PrintRequest(export_name, request);
    Print(export_name, driver.Call(export_name, request));
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qvpa-host: " << e.what() << "\n";
    return 2;
  }
}
