// zelnet as a user runs it: a process against `zelnet serve`, its one JSON object checked.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "support/NginxServer.h"
#include "zel/response/NSError+ZELNetworkingAdditions.h"
#include "zel/testing/MockServer.h"

extern char** environ;

namespace zel {
namespace {

struct Process {
  int status = -1;
  std::string out;
  std::string err;
  [[nodiscard]] boost::json::object json() const {
    boost::system::error_code error;
    auto value = boost::json::parse(out, error);
    EXPECT_FALSE(error) << "stdout is not one JSON object: " << out;
    return value.is_object() ? value.as_object() : boost::json::object();
  }
};

/// Reads a descriptor to its end.
std::string drain(int fd) {
  std::string text;
  std::array<char, 4096> buffer;
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
    text.append(buffer.data(), static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

/// Starts zelnet with the arguments; stdout and stderr come back through pipes.
pid_t spawn(const std::vector<std::string>& args, int& outFd, int& errFd) {
  int out[2], err[2];
  EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv{const_cast<char*>(ZELNET_PATH)};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, ZELNET_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  outFd = out[0];
  errFd = err[0];
  return pid;
}

/// Reads both descriptors to their ends at once: a long report on stderr (a sanitizer's, say)
/// must not block zelnet while stdout is still being read.
void drainBoth(int outFd, int errFd, std::string& out, std::string& err) {
  std::array<pollfd, 2> fds{pollfd{outFd, POLLIN, 0}, pollfd{errFd, POLLIN, 0}};
  std::array<std::string*, 2> texts{&out, &err};
  std::array<char, 4096> buffer;
  for (int open = 2; open > 0;) {
    const int ready = ::poll(fds.data(), fds.size(), -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (n > 0) {
        texts[i]->append(buffer.data(), static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;  // poll skips it from now on
        --open;
      }
    }
  }
}

Process zelnet(const std::vector<std::string>& args) {
  int outFd = -1, errFd = -1;
  const pid_t pid = spawn(args, outFd, errFd);
  Process run;
  drainBoth(outFd, errFd, run.out, run.err);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// One `zelnet serve` for the whole suite; it must stop cleanly on SIGTERM.
class Zelnet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int errFd = -1;
    server_ = spawn({"serve", "--port", "0"}, serverOut_, errFd);
    ::close(errFd);
    std::string line;
    char c = 0;
    while (::read(serverOut_, &c, 1) == 1 && c != '\n') line += c;
    const auto start = line.find("http://");
    ASSERT_NE(start, std::string::npos) << line;
    base_ = line.substr(start, line.find(' ', start) - start);
  }
  static void TearDownTestSuite() {
    ::kill(server_, SIGTERM);
    int status = 0;
    ::waitpid(server_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(drain(serverOut_).find("stopped"), std::string::npos);
  }

  static Process request(std::vector<std::string> args) {
    args.insert(args.begin() + 2, {"--base", base_, "--json"});
    return zelnet(args);
  }

  static inline pid_t server_ = -1;
  static inline int serverOut_ = -1;
  static inline std::string base_;
};

TEST_F(Zelnet, SignedRequestSucceedsInBothModesWithItsReportsAndNotifications) {
  for (const char* mode : {"--metrics", "--streaming"}) {
    SCOPED_TRACE(mode);
    const Process run = request({"get", "echo", "--client-id", "demo-client", "--client-secret",
                                 "demo-secret", "--param", "greeting=hello wörld", "--metrics",
                                 "--report-errors", "--app-state", "bg", mode});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto json = run.json();
    EXPECT_EQ(json.at("ok"), true);
    EXPECT_EQ(json.at("statusCode"), 200);
    EXPECT_FALSE(json.contains("error"));
    const auto& data = json.at("response").at("data").as_object();
    EXPECT_EQ(data.at("query").at("greeting"), "hello wörld");
    EXPECT_EQ(data.at("signature").at("valid"), true);
    EXPECT_EQ(data.at("headers").at("X-Zelvo-AppState"), "bg");
    ASSERT_EQ(json.at("metrics").as_array().size(), 1u);
    const auto& record = json.at("metrics").at(0).as_object();
    EXPECT_EQ(record.at("metrics").at("host"), "127.0.0.1");
    EXPECT_EQ(record.at("metrics").at("path"), "/v3/echo/");
    EXPECT_EQ(record.at("dimensions").at("status_code"), 200);
    EXPECT_TRUE(json.at("networkErrors").as_array().empty());
    const auto& names = json.at("notifications").as_array();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "ZELNetworkingClientRequestWillStartNotification");
  }
}

TEST_F(Zelnet, EachFailureKindEndsWithItsErrorAndOneErrorReport) {
  const MockServer closed;
  const std::string closedBase = closed.url("/v3/");
  const_cast<MockServer&>(closed).stop();
  struct Case {
    std::vector<std::string> args;
    std::string domain;
    std::int64_t code;
  };
  const std::vector<Case> cases = {
      {{"get", "users/me", "--token", "unknown"}, ZELNetworkingErrorDomain, 2},
      {{"post", "tokens/refresh", "--client-id", "x", "--client-secret", "y"},
       ZELNetworkingErrorDomain,
       3},
      {{"get", "fail/7"}, ZELNetworkingErrorDomain, 7},
      {{"get", "status/503"}, ZELNetworkingHTTPErrorDomainString, 503},
      {{"get", "not-json"}, "NSCocoaErrorDomain", 3840},
      {{"get", "slow", "--timeout", "0.05"}, "NSURLErrorDomain", -1001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    auto args = c.args;
    args.push_back("--report-errors");
    const Process run = request(args);
    ASSERT_EQ(run.status, 1) << run.out << run.err;
    const auto json = run.json();
    EXPECT_EQ(json.at("ok"), false);
    EXPECT_FALSE(json.contains("response"));
    EXPECT_EQ(json.at("error").at("domain"), c.domain.c_str());
    EXPECT_EQ(json.at("error").at("code"), c.code);
    EXPECT_TRUE(json.at("error").at("description").is_string());
    EXPECT_EQ(json.at("networkErrors").as_array().size(), 1u);
  }
  const Process refused = zelnet({"get", "users/me", "--base", closedBase, "--json"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.json().at("error").at("code"), -1004);
}

TEST_F(Zelnet, AssertionReportsAreCollectedInOrder) {
  const Process run = request({"get", "echo", "--asserts"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto json = run.json();
  const auto& asserts = json.at("asserts").as_array();
  ASSERT_EQ(asserts.size(), 1u);
  EXPECT_EQ(asserts[0], "URL should have a trailing slash otherwise it will redirect. echo");
  const Process refused = request({"get", "../secret/", "--asserts"});
  EXPECT_EQ(refused.json().at("asserts").at(0).as_string().find("URL should not contain ../"), 0u);
}

TEST_F(Zelnet, HarOfARedirectAndAGzippedUploadHasEveryRequiredField) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("zelnet-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "photo.bin") << std::string(4096, 'z');
  const Process redirected =
      request({"get", "redirect", "--token", "t", "--har", (dir / "r.har").string()});
  ASSERT_EQ(redirected.status, 0) << redirected.err;
  const Process upload = request({"post", "upload", "--token", "t", "--gzip", "--file",
                                  "photo=" + (dir / "photo.bin").string() + ";type=image/png",
                                  "--har", (dir / "u.har").string()});
  ASSERT_EQ(upload.status, 0) << upload.err;
  EXPECT_EQ(upload.json().at("response").at("data").at("gzipped"), true);

  for (const auto& [file, entries] : {std::pair{"r.har", 2u}, std::pair{"u.har", 1u}}) {
    std::ifstream in(dir / file);
    const auto har = boost::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    const auto& log = har.at("log").as_object();
    EXPECT_EQ(log.at("version"), "1.2");
    ASSERT_EQ(log.at("entries").as_array().size(), entries) << file;
    for (const auto& entry : log.at("entries").as_array()) {
      for (const char* key :
           {"startedDateTime", "time", "request", "response", "cache", "timings"}) {
        EXPECT_TRUE(entry.as_object().contains(key)) << file << " " << key;
      }
      for (const auto& header : entry.at("request").at("headers").as_array()) {
        if (header.at("name") == "Authorization") {
          EXPECT_EQ(header.at("value"), "[redacted]");
        }
      }
    }
  }
  std::filesystem::remove_all(dir);
}

// --cacert adds an authority to the system's: the test nginx over HTTPS + HTTP/2 is trusted
// with its own CA and refused with an unrelated one.
TEST(ZelnetTLS, CACertFileIsTrustedBesideTheSystemStore) {
  if (!test::NginxServer::available()) GTEST_SKIP() << "nginx or openssl is not installed";
  test::NginxServer nginx;
  const auto run = [&](const std::filesystem::path& ca) {
    return zelnet({"get", "envelope", "--base", nginx.httpsURL("/"), "--no-sanity-check",
                   "--cacert", ca.string(), "--metrics", "--json"});
  };
  const Process trusted = run(nginx.caFile());
  ASSERT_EQ(trusted.status, 0) << trusted.out << trusted.err;
  const auto json = trusted.json();
  EXPECT_EQ(json.at("response").at("data").at("n"), 1);
  EXPECT_EQ(json.at("metrics").at(0).at("metrics").at("network_protocol"), "h2");
  const Process refused = run(nginx.untrustedCAFile());
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.json().at("error").at("code"), -1202);
}

TEST(ZelnetUsage, BadCommandLinesExitTwoWithOneLineNamingTheOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"fetch", "x"}, "expected a verb"},
      {{"get", "--base", "http://127.0.0.1:1/"}, "needs a PATH"},
      {{"get", "x", "--base", "http://127.0.0.1:1/", "--bogus"}, "--bogus"},
      {{"post", "x", "--base", "http://127.0.0.1:1/", "--priority", "high"}, "--priority"},
      {{"put", "x", "--base", "http://127.0.0.1:1/", "--gzip"}, "--gzip"},
      {{"get", "x", "--base", "http://127.0.0.1:1/", "--param", "novalue"}, "--param"},
      {{"get", "x", "--base", "http://127.0.0.1:1/", "--timeout", "-1"}, "--timeout"},
      {{"get", "x", "--base", "http://127.0.0.1:1/", "--form", "a=b"}, "--form"},
      {{"post", "x", "--base", "http://127.0.0.1:1/", "--file", "f=/nonexistent/file"}, "--file"},
      {{"serve", "--port", "70000"}, "--port"},
  };
  for (const auto& [args, named] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const Process run = zelnet(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

}  // namespace
}  // namespace zel
