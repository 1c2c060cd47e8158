#include "tools/gbusiness-sim/server.h"

#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <regex>
#include <stdexcept>

#include <httplib.h>

#include "tools/gbusiness-sim/signature.h"

namespace qvpa::gbsim {

namespace {

constexpr char kApiPrefix[] = "/g_business/v1/";
constexpr char kNotJsonBody[] = "<html><body><h1>502 Bad Gateway</h1></body></html>";
constexpr char kWaitHeader[] = "x-satispay-response-wait-time";
constexpr int kMaxWaitSeconds = 60;

void Send(httplib::Response& response, const Answer& answer) {
  response.status = answer.status;
  response.set_content(answer.body, answer.content_type.c_str());
}

// Splits "payments/abc" into {"payments", "abc"}; further segments stay in the second part.
std::pair<std::string, std::string> SplitResource(const std::string& path) {
  const std::string rest = path.substr(sizeof(kApiPrefix) - 1);
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) return {rest, std::string()};
  return {rest.substr(0, slash), rest.substr(slash + 1)};
}

// Ends the TLS connection under the request without an answer.
void DropConnection(const httplib::Request& request) {
  if (request.ssl != nullptr) {
    const int fd = SSL_get_fd(request.ssl);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
  }
}

// Set by a request whose kept connection is to close once its answer went out; the answer is
// written, and the logger called, on the thread that ran the handler.
thread_local bool t_close_after_answer = false;

// Refuses a new connection at its first TLS message when the random draw says so: the socket
// is reset (no lingering), the client never gets to send its request.
int RefuseAtHello(SSL* ssl, int* alert, void* arg) {
  auto* random = static_cast<RandomFaults*>(arg);
  if (!random->RefuseConnection()) return SSL_CLIENT_HELLO_SUCCESS;
  const int fd = SSL_get_fd(ssl);
  if (fd >= 0) {
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    shutdown(fd, SHUT_RDWR);
  }
  *alert = SSL_AD_HANDSHAKE_FAILURE;
  return SSL_CLIENT_HELLO_ERROR;
}

// The key id of a signed request's Authorization header; empty when there is none.
std::string KeyIdOf(const ReceivedRecord& record) {
  static const std::regex kKeyId("keyId=\"([^\"]*)\"");
  for (const auto& [name, value] : record.headers) {
    std::smatch match;
    if (name == "authorization" && std::regex_search(value, match, kKeyId)) return match[1];
  }
  return {};
}

}  // namespace

SimServer::SimServer(ServerConfig config)
    : config_(std::move(config)),
      store_(config_.store),
      server_(std::make_unique<httplib::SSLServer>(config_.cert_file.c_str(), config_.key_file.c_str())) {
  if (!server_->is_valid())
    throw std::runtime_error("cannot load the TLS certificate " + config_.cert_file + " and key " +
                             config_.key_file);
  for (const std::string& token : config_.tokens) keys_.AddToken(token);
  for (const auto& [key_id, pem] : config_.keys) {
    if (!keys_.AddKey(key_id, pem)) throw std::runtime_error("key " + key_id + " is not an RSA public key");
  }
  random_faults_.Configure(config_.random_faults);
  SSL_CTX_set_client_hello_cb(server_->ssl_context(), RefuseAtHello, &random_faults_);
  server_->set_payload_max_length(1 << 20);
  // Answers go out at once: without this, small answers wait for the client's delayed ACK.
  server_->set_tcp_nodelay(true);
  Route();
}

SimServer::~SimServer() { Stop(); }

int SimServer::Start() {
  // A client that goes away mid-answer must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  port_ = config_.port == 0 ? server_->bind_to_any_port(config_.bind_address)
                            : (server_->bind_to_port(config_.bind_address, config_.port) ? config_.port : -1);
  if (port_ <= 0) throw std::runtime_error("cannot listen on " + config_.bind_address + ":" +
                                           std::to_string(config_.port));
  listening_done_ = false;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listening_done_ = true;
  });
  // The server offers no ready signal, and a stop() that comes before its loop runs is lost:
  // wait for the loop to start (or to fail) before handing out the port.
  while (!server_->is_running() && !listening_done_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port_;
}

void SimServer::Stop() {
  if (!thread_.joinable()) return;
  store_.Close();  // held reads answer now
  server_->stop();
  thread_.join();
}

Stats SimServer::stats() const {
  std::lock_guard lock(stats_mutex_);
  return stats_;
}

std::vector<ReceivedRecord> SimServer::received() const {
  std::lock_guard lock(stats_mutex_);
  return {received_.begin(), received_.end()};
}

int64_t SimServer::Record(const httplib::Request& request) {
  ReceivedRecord record{0, request.method, request.target, {}, {}};
  for (const auto& [name, value] : request.headers) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The server library files the connection's addresses among the headers; they were not sent.
    if (lower == "remote_addr" || lower == "remote_port" || lower == "local_addr" || lower == "local_port") continue;
    record.headers.emplace_back(std::move(lower), value);
  }
  std::lock_guard lock(stats_mutex_);
  record.seq = next_seq_++;
  received_.push_back(std::move(record));
  if (received_.size() > kRecordedRequests) received_.pop_front();
  return received_.back().seq;
}

void SimServer::NoteFault(int64_t seq, const std::string& fault) {
  std::lock_guard lock(stats_mutex_);
  if (received_.empty() || seq < received_.front().seq) return;
  const auto index = static_cast<size_t>(seq - received_.front().seq);
  if (index < received_.size()) received_[index].fault = fault;
}

void SimServer::Route() {
  server_->set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
    std::lock_guard lock(stats_mutex_);
    ++stats_.requests;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Called once the answer is written: the moment to close a kept connection behind the client's back.
  server_->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    if (t_close_after_answer) {
      t_close_after_answer = false;
      DropConnection(request);
    }
    if (config_.log) config_.log(request.method + " " + request.target + " -> " + std::to_string(response.status));
  });
  server_->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Send(response, ErrorAnswer(500, 0, "Internal simulator error"));
  });

  const std::string service = std::string(kApiPrefix) + ".*";
  auto service_handler = [this](const httplib::Request& q, httplib::Response& r) { HandleService(q, r); };
  server_->Get(service, service_handler);
  server_->Post(service, service_handler);
  server_->Put(service, service_handler);
  server_->Patch(service, service_handler);
  server_->Delete(service, service_handler);

  auto control_handler = [this](const httplib::Request& q, httplib::Response& r) { HandleControl(q, r); };
  server_->Get("/control/.*", control_handler);
  server_->Post("/control/.*", control_handler);
  server_->Delete("/control/.*", control_handler);
}

bool SimServer::CheckSignature(const httplib::Request& request) {
  ReceivedRequest received{request.method, request.target, request.body, [&](const std::string& name) {
                             std::vector<std::string> values;
                             const auto range = request.headers.equal_range(name);
                             for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
                             return values;
                           }};
  const std::string failure =
      VerifySignedRequest(received, [this](const std::string& key_id) { return keys_.Find(key_id); });
  std::lock_guard lock(stats_mutex_);
  ++stats_.signed_requests;
  if (failure.empty()) return true;
  ++stats_.verification_failures;
  stats_.last_error = request.method + " " + request.target + ": " + failure;
  return false;
}

void SimServer::HandleService(const httplib::Request& request, httplib::Response& response) {
  t_close_after_answer = false;
  const int64_t seq = Record(request);
  const auto [resource, id] = SplitResource(request.path);
  const std::string& method = request.method;
  const bool registration = resource == "authentication_keys" && id.empty();
  if (!registration && !CheckSignature(request)) {
    Send(response, ErrorAnswer(401, 34, "Invalid signature"));
    return;
  }

  const bool listing = resource == "payments" && id.empty() && method == "GET";
  std::optional<Fault> fault = faults_.Take(method, request.path, listing);
  if (!fault) fault = random_faults_.Draw(listing);
  if (fault) NoteFault(seq, fault->label.empty() ? FaultToJson(*fault)["kind"].get<std::string>() : fault->label);
  if (fault) {
    switch (fault->kind) {
      case FaultKind::kStatus:
        Send(response, ErrorAnswer(fault->status, fault->code, fault->message));
        return;
      case FaultKind::kDelay:
        std::this_thread::sleep_for(std::chrono::milliseconds(fault->delay_ms));
        break;
      case FaultKind::kClose:
        DropConnection(request);
        response.status = 500;
        return;
      case FaultKind::kCloseAfter:
      case FaultKind::kResetDuring:
      case FaultKind::kSlow:
      case FaultKind::kCloseKept:
        break;
      case FaultKind::kBadJson:
        Send(response, Answer{200, kNotJsonBody, "text/html"});
        return;
      case FaultKind::kEndlessPaging:
        Send(response, JsonAnswer({{"has_more", true}, {"data", nlohmann::json::array()}}));
        return;
    }
  }
  const Answer answer = Serve(request, resource, id);
  if (fault && fault->kind == FaultKind::kCloseAfter) {
    DropConnection(request);  // done, but the client never hears of it
    response.status = 500;
    return;
  }
  if (fault && fault->kind == FaultKind::kResetDuring) {
    // The head and half the body go out, then the connection ends.
    const std::string body = answer.body.empty() ? std::string("{}") : answer.body;
    response.status = answer.status;
    response.set_content_provider(body.size(), answer.content_type,
                                  [body](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset == 0) sink.write(body.data(), body.size() / 2);
                                    return false;
                                  });
    return;
  }
  if (fault && fault->kind == FaultKind::kSlow)
    std::this_thread::sleep_for(std::chrono::milliseconds(fault->delay_ms));
  if (fault && fault->kind == FaultKind::kCloseKept) t_close_after_answer = true;
  Send(response, answer);
}

Answer SimServer::Serve(const httplib::Request& request, const std::string& resource, const std::string& id) {
  const std::string& method = request.method;
  const bool single = !id.empty() && id.find('/') == std::string::npos;
  if (resource == "authentication_keys" && id.empty() && method == "POST") {
    Answer answer = keys_.Register(request.body);
    if (answer.status == 200) {
      std::lock_guard lock(stats_mutex_);
      ++stats_.registrations;
    }
    return answer;
  }
  if (resource == "payments" && id.empty() && method == "POST")
    return store_.Create(request.body, request.get_header_value("Idempotency-Key"));
  if (resource == "payments" && id.empty() && method == "GET")
    return store_.List(QueryParams(request.params.begin(), request.params.end()));
  if (resource == "payments" && single && method == "GET") {
    int wait = 0;
    if (request.has_header(kWaitHeader)) {
      const std::string text = request.get_header_value(kWaitHeader);
      const bool digits = !text.empty() && text.size() <= 2 &&
                          std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
      if (!digits || std::stoi(text) > kMaxWaitSeconds)
        return ErrorAnswer(400, 36, std::string(kWaitHeader) + " must be a whole number of seconds from 0 to 60");
      wait = std::stoi(text);
    }
    return store_.Read(id, std::chrono::seconds(wait));
  }
  if (resource == "payments" && single && method == "PUT") return store_.Update(id, request.body);
  if (resource == "daily_closure" && method == "GET" && id.find('/') == std::string::npos)
    return store_.DailyClosure(id, request.get_param_value("generate_pdf") == "true");
  return ErrorAnswer(404, 41, "Resource not found");
}

void SimServer::HandleControl(const httplib::Request& request, httplib::Response& response) {
  static const std::regex kPaymentAction("/control/payments/([^/]+)/(accept|decline)");
  const std::string& path = request.path;
  const std::string& method = request.method;
  const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
  std::smatch match;

  if (path == "/control/stats" && method == "GET") {
    const Stats s = stats();
    Send(response, JsonAnswer({{"requests", s.requests},
                               {"signed_requests", s.signed_requests},
                               {"verification_failures", s.verification_failures},
                               {"registrations", s.registrations},
                               {"last_error", s.last_error}}));
  } else if (path == "/control/stats/reset" && method == "POST") {
    std::lock_guard lock(stats_mutex_);
    stats_ = Stats{};
    Send(response, JsonAnswer(nlohmann::json::object()));
  } else if (path == "/control/tokens" && method == "POST") {
    if (!body.is_object() || !body.contains("token") || !body["token"].is_string()) {
      Send(response, ErrorAnswer(400, 27, "expected {\"token\": text}"));
      return;
    }
    keys_.AddToken(body["token"]);
    Send(response, JsonAnswer(nlohmann::json::object()));
  } else if (path == "/control/keys" && method == "POST") {
    const bool shaped = body.is_object() && body.contains("key_id") && body["key_id"].is_string() &&
                        body.contains("public_key") && body["public_key"].is_string();
    if (!shaped || !keys_.AddKey(body["key_id"], body["public_key"])) {
      Send(response, ErrorAnswer(400, 34, "expected {\"key_id\": text, \"public_key\": PEM RSA public key}"));
      return;
    }
    Send(response, JsonAnswer(nlohmann::json::object()));
  } else if (path == "/control/listing" && method == "POST") {
    // {"external_codes": bool, "timestamp": "cursor" | "created_after"}
    const bool shaped = body.is_object() && body.contains("external_codes") &&
                        body["external_codes"].is_boolean() && body.contains("timestamp") &&
                        (body["timestamp"] == "cursor" || body["timestamp"] == "created_after");
    if (!shaped) {
      Send(response, ErrorAnswer(400, 27,
                                 "expected {\"external_codes\": bool, \"timestamp\": \"cursor\" | \"created_after\"}"));
      return;
    }
    store_.SetListingReading(body["external_codes"].get<bool>(), body["timestamp"] == "created_after");
    Send(response, JsonAnswer(nlohmann::json::object()));
  } else if (path == "/control/payments" && method == "GET") {
    // Optional filters, each an exact match: id, external_code, parent_payment_uid.
    nlohmann::json all = store_.All();
    nlohmann::json chosen = nlohmann::json::array();
    for (nlohmann::json& payment : all) {
      bool keep = true;
      for (const char* field : {"id", "external_code", "parent_payment_uid"}) {
        if (request.has_param(field) && payment.value(field, std::string()) != request.get_param_value(field))
          keep = false;
      }
      if (keep) chosen.push_back(std::move(payment));
    }
    Send(response, JsonAnswer({{"data", chosen}}));
  } else if (path == "/control/payments" && method == "POST" && body.is_array()) {
    nlohmann::json added = nlohmann::json::array();
    for (const nlohmann::json& item : body) {
      const Answer answer = store_.Seed(item.dump());
      if (answer.status != 200) {
        Send(response, answer);
        return;
      }
      added.push_back(nlohmann::json::parse(answer.body));
    }
    Send(response, JsonAnswer({{"data", added}}));
  } else if (path == "/control/payments" && method == "POST") {
    Send(response, store_.Seed(request.body));
  } else if (std::regex_match(path, match, kPaymentAction) && method == "POST") {
    Send(response, match[2] == "accept" ? store_.Accept(match[1]) : store_.Decline(match[1]));
  } else if (path == "/control/faults" && method == "POST") {
    try {
      std::vector<Fault> added;
      if (body.is_array()) {
        for (const nlohmann::json& item : body) added.push_back(ParseFault(item));
      } else {
        added.push_back(ParseFault(body));
      }
      for (Fault& fault : added) faults_.Add(std::move(fault));
      Send(response, JsonAnswer({{"faults", faults_.Pending()}}));
    } catch (const std::invalid_argument& error) {
      Send(response, ErrorAnswer(400, 27, error.what()));
    }
  } else if (path == "/control/faults/random" && method == "POST") {
    // {"rate": 0..1, "seed": whole number, "slow_ms": whole number}; a seed restarts the draw and its counts
    const bool shaped = body.is_object() && body.contains("rate") && body["rate"].is_number() &&
                        body["rate"].get<double>() >= 0 && body["rate"].get<double>() <= 1 &&
                        (!body.contains("seed") || body["seed"].is_number_unsigned()) &&
                        (!body.contains("slow_ms") || (body["slow_ms"].is_number_unsigned() &&
                                                       body["slow_ms"].get<uint64_t>() <= 600'000));
    if (!shaped) {
      Send(response, ErrorAnswer(400, 27, "expected {\"rate\": 0 to 1, \"seed\": n, \"slow_ms\": 0 to 600000}"));
      return;
    }
    RandomFaultSettings settings = random_faults_.settings();
    settings.rate = body["rate"].get<double>();
    settings.seed = body.value("seed", settings.seed);
    settings.slow_ms = body.value("slow_ms", settings.slow_ms);
    random_faults_.Configure(settings, body.contains("seed"));
    Send(response, JsonAnswer(random_faults_.State()));
  } else if (path == "/control/faults/random" && method == "GET") {
    Send(response, JsonAnswer(random_faults_.State()));
  } else if (path == "/control/requests" && method == "GET") {
    // after=N: only those that arrived after request N; key_id=K: only those signed with key K
    int64_t after = 0;
    try {
      if (request.has_param("after")) after = std::stoll(request.get_param_value("after"));
    } catch (const std::exception&) {
      Send(response, ErrorAnswer(400, 27, "after must be a whole number"));
      return;
    }
    const std::string key_id = request.get_param_value("key_id");
    nlohmann::json list = nlohmann::json::array();
    for (const ReceivedRecord& record : received()) {
      if (record.seq <= after || (!key_id.empty() && KeyIdOf(record) != key_id)) continue;
      nlohmann::json headers = nlohmann::json::object();
      for (const auto& [name, value] : record.headers) headers[name].push_back(value);
      list.push_back({{"seq", record.seq}, {"method", record.method}, {"target", record.target},
                      {"headers", headers}, {"fault", record.fault}});
    }
    Send(response, JsonAnswer({{"requests", list}}));
  } else if (path == "/control/requests" && method == "DELETE") {
    std::lock_guard lock(stats_mutex_);
    received_.clear();
    Send(response, JsonAnswer({{"requests", nlohmann::json::array()}}));
  } else if (path == "/control/faults" && method == "GET") {
    Send(response, JsonAnswer({{"faults", faults_.Pending()}}));
  } else if (path == "/control/faults" && method == "DELETE") {
    faults_.Clear();
    Send(response, JsonAnswer({{"faults", nlohmann::json::array()}}));
  } else if (path == "/control/shutdown" && method == "POST") {
    Send(response, JsonAnswer(nlohmann::json::object()));
    if (config_.on_shutdown_request) config_.on_shutdown_request();
  } else {
    Send(response, ErrorAnswer(404, 41, "Resource not found"));
  }
}

}  // namespace qvpa::gbsim
