#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kToolTimeout = 20s;  // one openssl step
// SIGQUIT lets requests in flight finish; worker_shutdown_timeout closes idle connections after
// 1 s, but not one stuck mid-request, so SIGTERM follows.
constexpr auto kGracefulStop = 1500ms;
constexpr auto kTerminateStop = 2s;
constexpr int kPortAttempts = 3;  // a probed port can be taken before nginx binds it

/// The executable's path: PATH first, then the sbin folders a non-root PATH may lack.
std::optional<fs::path> findExecutable(const std::string& name) {
  std::string dirs;
  if (const char* path = std::getenv("PATH")) dirs = path;
  dirs += ":/usr/sbin:/usr/local/sbin:/sbin";
  std::stringstream stream(dirs);
  std::string dir;
  while (std::getline(stream, dir, ':')) {
    if (dir.empty()) continue;
    const fs::path candidate = fs::path(dir) / name;
    if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) return candidate;
  }
  return std::nullopt;
}

const std::optional<fs::path>& nginxExecutable() {
  static const auto path = findExecutable("nginx");
  return path;
}

const std::optional<fs::path>& opensslExecutable() {
  static const auto path = findExecutable("openssl");
  return path;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("NginxServer: cannot write " + path.string());
}

std::string errnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

std::string describeStatus(int status) {
  if (status == -1) return "already reaped";
  if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

/// Starts argv[0] with stdin from /dev/null and stdout and stderr into outputFile. Only the
/// standard descriptors are inherited, so the child keeps none of the test's sockets open.
pid_t spawn(const std::vector<std::string>& argv, const fs::path& outputFile) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const std::string output = outputFile.string();
  rlimit limit{};
  const int maxFd = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                        ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                        : 65536;
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(errnoText("NginxServer: fork"));
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
    {
      for (int fd = 3; fd < maxFd; ++fd) ::close(fd);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

/// Reaps the child if it exits within the timeout; true when it is gone.
bool waitForExit(pid_t pid, std::chrono::milliseconds timeout, int* status = nullptr) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int local = 0;
    const pid_t done = ::waitpid(pid, &local, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) {
      if (status) *status = done == pid ? local : -1;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

/// Runs a tool to completion within kToolTimeout; throws with its output when it fails.
void runTool(const std::vector<std::string>& argv, const fs::path& outputFile) {
  const pid_t pid = spawn(argv, outputFile);
  int status = 0;
  if (!waitForExit(pid, kToolTimeout, &status)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    throw std::runtime_error("NginxServer: timed out running " + argv[0] + " " + argv[1]);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const auto& arg : argv) command += (command.empty() ? "" : " ") + arg;
    throw std::runtime_error("NginxServer: `" + command + "` failed (" + describeStatus(status) +
                             "):\n" + readFile(outputFile));
  }
}

/// Distinct loopback ports that were free a moment ago (bound to port 0, then released).
std::vector<std::uint16_t> freeLoopbackPorts(std::size_t count) {
  std::vector<int> sockets;
  std::vector<std::uint16_t> ports;
  auto closeAll = [&sockets] {
    for (const int fd : sockets) ::close(fd);
  };
  for (std::size_t i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      closeAll();
      throw std::runtime_error(errnoText("NginxServer: socket"));
    }
    sockets.push_back(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      closeAll();
      throw std::runtime_error(errnoText("NginxServer: bind 127.0.0.1:0"));
    }
    ports.push_back(ntohs(address.sin_port));
  }
  closeAll();
  return ports;
}

bool acceptsConnections(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string loopbackURL(const char* scheme, std::uint16_t port, std::string_view path) {
  std::string url = std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  if (path.empty() || path.front() != '/') url += '/';
  url += path;
  return url;
}

// Shared by every certificate request: no prompts, no dependency on the system openssl.cnf.
constexpr const char* kOpenSSLConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = ZEL test
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
)";

constexpr const char* kServerExtensions = R"(basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";

}  // namespace

bool NginxServer::available() {
  return nginxExecutable() && opensslExecutable();
}

NginxServer::TestPKI NginxServer::makeTestPKI(const fs::path& directory,
                                              CertificateValidity validity) {
  const auto& openssl = opensslExecutable();
  if (!openssl) throw std::runtime_error("NginxServer: no openssl executable found");
  const std::string tool = openssl->string();
  const fs::path config = directory / "openssl.cnf";
  const fs::path extensions = directory / "server.ext";
  const fs::path log = directory / "openssl.log";
  writeFile(config, kOpenSSLConfig);
  writeFile(extensions, kServerExtensions);

  TestPKI pki{directory / "ca.pem", directory / "server.pem", directory / "server.key",
              directory / "untrusted-ca.pem"};
  auto makeCA = [&](const fs::path& certificate, const fs::path& key, const std::string& name) {
    runTool({tool,          "req",
             "-x509",       "-new",
             "-newkey",     "ec",
             "-pkeyopt",    "ec_paramgen_curve:P-256",
             "-nodes",      "-sha256",
             "-days",       "3",
             "-subj",       "/CN=" + name,
             "-config",     config.string(),
             "-extensions", "ca_ext",
             "-keyout",     key.string(),
             "-out",        certificate.string()},
            log);
  };
  makeCA(pki.caCertificate, directory / "ca.key", "ZEL Test CA");
  makeCA(pki.untrustedCACertificate, directory / "untrusted-ca.key", "ZEL Untrusted Test CA");

  const fs::path request = directory / "server.csr";
  runTool({tool, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
           "-subj", "/CN=localhost", "-config", config.string(), "-keyout", pki.serverKey.string(),
           "-out", request.string()},
          log);
  std::random_device random;
  const std::string serial = std::to_string((static_cast<std::uint64_t>(random()) << 20) | 1);
  const std::string caKey = (directory / "ca.key").string();
  if (validity == CertificateValidity::NotYetValid) {
    // Only the ca command sets a start date in the future.
    const fs::path caConfig = directory / "ca.cnf";
    writeFile(caConfig, "[ ca ]\ndefault_ca = test_ca\n[ test_ca ]\ndatabase = " +
                            (directory / "index.txt").string() + "\nnew_certs_dir = " +
                            directory.string() + "\nserial = " + (directory / "serial").string() +
                            "\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                            "[ any ]\ncommonName = supplied\n");
    writeFile(directory / "index.txt", "");
    writeFile(directory / "serial", "01\n");
    runTool({tool,
             "ca",
             "-batch",
             "-config",
             caConfig.string(),
             "-cert",
             pki.caCertificate.string(),
             "-keyfile",
             caKey,
             "-in",
             request.string(),
             "-startdate",
             "20300101000000Z",
             "-enddate",
             "20310101000000Z",
             "-extfile",
             extensions.string(),
             "-notext",
             "-out",
             pki.serverCertificate.string()},
            log);
  } else {
    const std::string days = validity == CertificateValidity::Expired ? "-1" : "3";
    runTool({tool, "x509", "-req", "-in", request.string(), "-CA", pki.caCertificate.string(),
             "-CAkey", caKey, "-set_serial", serial, "-sha256", "-days", days, "-extfile",
             extensions.string(), "-out", pki.serverCertificate.string()},
            log);
  }
  return pki;
}

NginxServer::NginxServer() : NginxServer(Options{}) {}

NginxServer::NginxServer(Options options) : options_(options) {
  if (!nginxExecutable()) throw std::runtime_error("NginxServer: no nginx executable found");
  std::string pattern = "/tmp/zel-nginx-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(errnoText("NginxServer: mkdtemp " + pattern));
  }
  directory_ = pattern;
  try {
    fs::create_directories(directory_ / "temp");
    pki_ = makeTestPKI(directory_, options_.serverCertificate);
    for (int attempt = 1;; ++attempt) {
      const auto ports = freeLoopbackPorts(3);
      httpsPort_ = ports[0];
      httpPort_ = options_.plainHTTPListener ? ports[1] : 0;
      tls12Port_ = options_.tls12Listener ? ports[2] : 0;
      writeConfig();
      launch();
      try {
        waitUntilListening();
        break;
      } catch (const std::runtime_error&) {
        // Another process may have taken a probed port in between; nginx then exits at once.
        const bool portTaken =
            pid_ < 0 && errorLog().find("Address already in use") != std::string::npos;
        if (!portTaken || attempt == kPortAttempts) throw;
      }
    }
  } catch (...) {
    stop();
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    throw;
  }
}

NginxServer::~NginxServer() {
  stop();
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

std::string NginxServer::httpsURL(std::string_view path) const {
  return loopbackURL("https", httpsPort_, path);
}

std::string NginxServer::httpURL(std::string_view path) const {
  if (httpPort_ == 0) throw std::logic_error("NginxServer: started without a plain HTTP listener");
  return loopbackURL("http", httpPort_, path);
}

std::string NginxServer::tls12URL(std::string_view path) const {
  if (tls12Port_ == 0) throw std::logic_error("NginxServer: started without a TLS 1.2 listener");
  return loopbackURL("https", tls12Port_, path);
}

std::string NginxServer::errorLog() const {
  std::string text;
  for (const char* name : {"stderr.log", "error.log"}) {
    const fs::path path = directory_ / name;
    std::error_code ignored;
    if (fs::exists(path, ignored)) text += readFile(path);
  }
  return text;
}

void NginxServer::writeConfig() const {
  const std::string dir = directory_.string();
  const std::string locations = std::string(R"(
      location = /envelope { default_type application/json; return 200 ')") +
                                std::string(kEnvelope) + R"('; }
      location = /connection { default_type text/plain; return 200 '$connection'; }
      location / { default_type text/plain; return 200 'ok'; }
)";
  auto server = [&](std::uint16_t port, const char* listenFlags, const char* extra) {
    return "    server {\n      listen 127.0.0.1:" + std::to_string(port) + listenFlags + ";\n" +
           extra + locations + "    }\n";
  };

  std::string config;
  if (::geteuid() == 0) config += "user root;\n";
  config += "daemon off;\nmaster_process on;\nworker_processes 1;\n";
  config += "pid " + dir + "/nginx.pid;\nerror_log " + dir + "/error.log;\n";
  config += "worker_shutdown_timeout 1s;\n";
  config += "events { worker_connections 1024; }\n";
  config += "http {\n  access_log off;\n  keepalive_requests " +
            std::to_string(options_.keepaliveRequests) + ";\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    config += std::string("  ") + kind + "_temp_path " + dir + "/temp/" + kind + ";\n";
  }
  config += "  ssl_certificate " + pki_.serverCertificate.string() + ";\n";
  config += "  ssl_certificate_key " + pki_.serverKey.string() + ";\n";
  config += server(httpsPort_, " ssl http2", "      ssl_protocols TLSv1.2 TLSv1.3;\n");
  if (httpPort_ != 0) config += server(httpPort_, "", "");
  if (tls12Port_ != 0) config += server(tls12Port_, " ssl http2", "      ssl_protocols TLSv1.2;\n");
  config += "}\n";
  writeFile(directory_ / "nginx.conf", config);
}

void NginxServer::launch() {
  const std::string dir = directory_.string();
  std::error_code ignored;
  fs::remove(directory_ / "error.log", ignored);
  pid_ = spawn({nginxExecutable()->string(), "-p", dir + "/", "-c", dir + "/nginx.conf", "-e",
                dir + "/error.log"},
               directory_ / "stderr.log");
}

void NginxServer::waitUntilListening() {
  std::vector<std::uint16_t> ports{httpsPort_};
  if (httpPort_ != 0) ports.push_back(httpPort_);
  if (tls12Port_ != 0) ports.push_back(tls12Port_);
  const auto deadline = Clock::now() + options_.startTimeout;
  for (;;) {
    int status = 0;
    if (waitForExit(pid_, 0ms, &status)) {
      pid_ = -1;
      throw std::runtime_error("NginxServer: nginx exited during start-up (" +
                               describeStatus(status) + "):\n" + errorLog());
    }
    bool ready = true;
    for (const auto port : ports) ready = ready && acceptsConnections(port);
    if (ready) return;
    if (Clock::now() >= deadline) {
      throw std::runtime_error("NginxServer: nginx did not accept connections within " +
                               std::to_string(options_.startTimeout.count()) + " ms:\n" +
                               errorLog());
    }
    std::this_thread::sleep_for(10ms);
  }
}

void NginxServer::stop() noexcept {
  if (pid_ <= 0) return;
  const pid_t pid = pid_;
  pid_ = -1;
  ::kill(pid, SIGQUIT);
  if (waitForExit(pid, kGracefulStop)) return;
  ::kill(pid, SIGTERM);
  if (waitForExit(pid, kTerminateStop)) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace zel::test
