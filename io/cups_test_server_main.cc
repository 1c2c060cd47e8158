// The private CUPS scheduler of the spool tests as a program of its own, for clients that
// cannot start it themselves (the Windows spool suite under Wine). It prints the
// scheduler's socket and the folder its queue writes to, one per line, then serves until
// its standard input closes.
#include <iostream>
#include <string>

#include "io/cups_test_server.h"

int main() {
  qvpa::testing_io::CupsTestServer server;
  if (!server.running()) {
    std::cerr << "cupsd did not start\n" << server.ErrorLog();
    return 1;
  }
  std::cout << server.socket() << '\n' << server.output().parent_path().string() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
