// The simulator as a separate process, the way end-to-end tests and scripts start it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/gbusiness-sim/test_client.h"

extern char** environ;

namespace qvpa::gbsim {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SimProcess {
 public:
  SimProcess(const fs::path& folder, std::vector<std::string> args) : folder_(folder) {
    args.insert(args.begin(), GBUSINESS_SIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (folder / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  // Exit code, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool WaitForFile(const fs::path& path) const {
    for (int i = 0; i < 200 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return fs::exists(path);
  }
  std::string Out() const { return Slurp(folder_ / "out"); }
  std::string Err() const { return Slurp(folder_ / "err"); }
  pid_t pid() const { return pid_; }

 private:
  fs::path folder_;
  pid_t pid_ = 0;
};

class SimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gbusiness-sim-cli.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(SimProgramTest, AnnouncesItsPortServesAndStopsOnRequest) {
  const testing::TestKey key = testing::TestKey::Generate();
  std::ofstream(folder_ / "client.pem") << key.public_pem();
  SimProcess sim(folder_, {"--port-file", (folder_ / "port").string(), "--cert-dir", (folder_ / "tls").string(),
                           "--token", "ONCE01", "--public-key", "preset=" + (folder_ / "client.pem").string(),
                           "--shop-id", "0b6c3c3e-5a36-4e8a-9d1c-5a1e2b3c4d5e", "--accept-after", "0"});
  ASSERT_TRUE(sim.WaitForFile(folder_ / "port")) << sim.Err();
  const int port = std::stoi(Slurp(folder_ / "port"));
  const std::string out = sim.Out();
  EXPECT_EQ(out.rfind("PORT " + std::to_string(port) + "\nCA_FILE " + (folder_ / "tls" / "ca.pem").string() +
                          "\nSHOP_ID 0b6c3c3e-5a36-4e8a-9d1c-5a1e2b3c4d5e\n", 0),
            0u)
      << out;

  httplib::SSLClient client("localhost", port);
  client.set_ca_cert_path((folder_ / "tls" / "ca.pem").c_str());
  client.enable_server_certificate_verification(true);
  const auto registered = client.Post("/g_business/v1/authentication_keys",
                                      json{{"public_key", key.public_pem()}, {"token", "ONCE01"}}.dump(),
                                      "application/json");
  ASSERT_TRUE(registered) << httplib::to_string(registered.error());
  EXPECT_EQ(registered->status, 200);

  testing::SignOptions options;
  options.key_id = "preset";
  options.host = "localhost:" + std::to_string(port);
  const std::string body = R"({"flow":"MATCH_CODE","amount_unit":100,"currency":"EUR","external_code":"X"})";
  const auto created = client.Post("/g_business/v1/payments",
                                   testing::SignedHeaders(key, options, "POST", "/g_business/v1/payments", body),
                                   body, "application/json");
  ASSERT_TRUE(created);
  ASSERT_EQ(created->status, 200) << created->body;
  const std::string item = "/g_business/v1/payments/" + json::parse(created->body)["id"].get<std::string>();
  const auto read = client.Get(item.c_str(), testing::SignedHeaders(key, options, "GET", item, ""));
  ASSERT_TRUE(read);
  EXPECT_EQ(json::parse(read->body)["status"], "ACCEPTED");  // --accept-after 0
  EXPECT_EQ(json::parse(read->body)["receiver"]["id"], "0b6c3c3e-5a36-4e8a-9d1c-5a1e2b3c4d5e");

  ASSERT_TRUE(client.Post("/control/shutdown", "", "application/json"));
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_NE(sim.Out().find("GET " + item + " -> 200"), std::string::npos) << sim.Out();
}

TEST_F(SimProgramTest, StopsOnTermination) {
  SimProcess sim(folder_, {"--quiet", "--port-file", (folder_ / "port").string(), "--cert-dir",
                           (folder_ / "tls").string()});
  ASSERT_TRUE(sim.WaitForFile(folder_ / "port")) << sim.Err();
  kill(sim.pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(SimProgramTest, RefusesBadArgumentsWithUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "http"},
      {"--cert", "only-cert.pem"},
      {"--public-key", "kid=" + (folder_ / "missing.pem").string()},
  };
  const int expected[] = {2, 2, 1};
  for (size_t i = 0; i < cases.size(); ++i) {
    SimProcess sim(folder_, cases[i]);
    EXPECT_EQ(sim.Wait(), expected[i]) << cases[i][0];
    EXPECT_NE(sim.Err().find("gbusiness-sim: "), std::string::npos) << sim.Err();
  }
}

}  // namespace
}  // namespace qvpa::gbsim
