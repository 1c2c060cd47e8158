// Test helper: a private CUPS scheduler started for one test program. It has its own
// configuration folder, listens only on a socket in a temporary folder, and serves one
// queue "Receipt" whose device is a file (595 x 842 pt, margins 18 pt left and right,
// 36 pt top and bottom, 600 dpi). The
// client library is pointed at it through CUPS_SERVER.
#ifndef QVPA_IO_CUPS_TEST_SERVER_H_
#define QVPA_IO_CUPS_TEST_SERVER_H_

#include <cups/cups.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "io/test_support.h"

extern char** environ;

namespace qvpa::testing_io {

class CupsTestServer {
 public:
  static constexpr char kQueue[] = "Receipt";

  CupsTestServer() {
    const auto& root = dir_.path();
    for (const char* sub : {"conf/ppd", "spool", "tmp", "cache", "state", "log", "out", "bin/filter", "bin/monitor"}) {
      std::filesystem::create_directories(root / sub);
    }
    // The scheduler's programs: its own helper from the system, and a copy step as the
    // queue's PDF filter and port monitor (raw jobs run no filter, and without one the
    // scheduler writes nothing to a file device), so the file receives the job's bytes.
    std::filesystem::create_directory_symlink("/usr/lib/cups/daemon", root / "bin/daemon");
    // The monitor, last in the chain, also notes each finished job's number and title in
    // out/jobs.log, for a client that cannot ask the scheduler.
    Write("bin/filter/qvpa-copy", "#!/bin/sh\nif [ -n \"$6\" ]; then exec cat \"$6\"; else exec cat; fi\n");
    Write("bin/monitor/qvpa-copy", "#!/bin/sh\nif [ -n \"$6\" ]; then cat \"$6\"; else cat; fi\nrc=$?\n"
                                   "printf '%s\\t%s\\n' \"$1\" \"$3\" >> " + (root / "out/jobs.log").string() +
                                   "\nexit $rc\n");
    for (const char* name : {"bin/filter/qvpa-copy", "bin/monitor/qvpa-copy"}) {
      std::filesystem::permissions(root / name, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                    std::filesystem::perms::group_exec |
                                                    std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    }
    std::filesystem::permissions(root, std::filesystem::perms::all, std::filesystem::perm_options::add);
    std::filesystem::permissions(root / "out", std::filesystem::perms::all, std::filesystem::perm_options::add);
    socket_ = (root / "cups.sock").string();
    Write("conf/cups-files.conf",
          "FileDevice Yes\nServerRoot " + (root / "conf").string() + "\nRequestRoot " + (root / "spool").string() +
              "\nTempDir " + (root / "tmp").string() + "\nCacheDir " + (root / "cache").string() +
              "\nStateDir " + (root / "state").string() + "\nErrorLog " + (root / "log/error_log").string() +
              "\nAccessLog " + (root / "log/access_log").string() + "\nPageLog " +
              (root / "log/page_log").string() + "\nPrintcap " + (root / "printcap").string() +
              "\nDataDir /usr/share/cups\nServerBin " + (root / "bin").string() + "\n");
    Write("conf/cupsd.conf",
          "Listen " + socket_ +
              "\nLogLevel warn\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    Write("conf/printers.conf", std::string("<Printer ") + kQueue + ">\nInfo Receipt\nDeviceURI file://" +
                                    output().string() + "\nState Idle\nAccepting Yes\nShared No\nPortMonitor qvpa-copy\n</Printer>\n");
    Write("conf/ppd/Receipt.ppd", kPpd);
    // Raw printing as a stock installation enables it: data of no known type goes to the
    // queue as it is. Clients that do not mark their raw jobs (Wine's spooler) need it.
    Write("conf/raw.types", "application/octet-stream\n");
    Write("conf/raw.convs", "application/octet-stream application/vnd.cups-raw 0 -\n");

    const std::string conf = (root / "conf/cupsd.conf").string();
    const std::string files = (root / "conf/cups-files.conf").string();
    const char* argv[] = {"/usr/sbin/cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr};
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = -1;
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!running_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {  // the scheduler gave up
        pid_ = -1;
        return;
      }
      running_ = Accepts();
      if (!running_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
  }
  ~CupsTestServer() {
    ::unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  CupsTestServer(const CupsTestServer&) = delete;
  CupsTestServer& operator=(const CupsTestServer&) = delete;

  bool running() const { return running_; }
  // The scheduler's own account of a failed start.
  std::string ErrorLog() const {
    std::ifstream in(dir_.path() / "log/error_log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // The scheduler's socket, for CUPS_SERVER.
  const std::string& socket() const { return socket_; }
  // The file the queue's device writes.
  std::filesystem::path output() const { return dir_.path() / "out/receipt.prn"; }
  // "<job number>\t<title>" per finished job, in the order they finished.
  std::filesystem::path jobs_log() const { return dir_.path() / "out/jobs.log"; }

  // Waits (at most 20 s) until the queue has no unfinished job, then returns the bytes
  // of the last job the device wrote.
  std::string LastJobOutput() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      cups_job_t* jobs = nullptr;
      const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_ACTIVE);
      cupsFreeJobs(active, jobs);
      if (active == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream in(output(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Titles of the queue's completed jobs, by job number.
  std::map<int, std::string> CompletedJobs() const {
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, kQueue, 0, CUPS_WHICHJOBS_COMPLETED);
    std::map<int, std::string> out;
    for (int i = 0; i < n; ++i) out[jobs[i].id] = jobs[i].title;
    cupsFreeJobs(n, jobs);
    return out;
  }

 private:
  static constexpr char kPpd[] =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n*PCFileName: \"RECEIPT.PPD\"\n*Manufacturer: \"QVPA\"\n"
      "*Product: \"(Receipt)\"\n*ModelName: \"QVPA Receipt\"\n*ShortNickName: \"QVPA Receipt\"\n"
      "*NickName: \"QVPA Receipt\"\n*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n"
      "*ColorDevice: False\n*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
      "*TTRasterizer: Type42\n"
      "*cupsFilter2: \"application/pdf application/octet-stream 0 qvpa-copy\"\n"
      "*cupsFilter2: \"application/vnd.cups-raw application/octet-stream 0 qvpa-copy\"\n"
      "*cupsFilter2: \"application/postscript application/octet-stream 0 qvpa-copy\"\n"
      "*cupsFilter2: \"text/plain application/octet-stream 0 qvpa-copy\"\n"
      "*OpenUI *PageSize/Media Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
      "*DefaultPageSize: A4\n*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
      "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n*DefaultPageRegion: A4\n"
      "*PageRegion A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageRegion\n"
      "*DefaultImageableArea: A4\n*ImageableArea A4/A4: \"18 36 577 806\"\n"
      "*DefaultPaperDimension: A4\n*PaperDimension A4/A4: \"595 842\"\n"
      "*OpenUI *Resolution/Resolution: PickOne\n*OrderDependency: 10 AnySetup *Resolution\n"
      "*DefaultResolution: 600dpi\n*Resolution 600dpi/600 DPI: \"<</HWResolution[600 600]>>setpagedevice\"\n"
      "*CloseUI: *Resolution\n";

  void Write(const char* aName, const std::string& aText) {
    std::ofstream(dir_.path() / aName, std::ios::binary) << aText;
  }
  bool Accepts() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    socket_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
  }

  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_CUPS_TEST_SERVER_H_
