// zelnet: requests through ZELNetworkingClient from the command line, the demo API
// (`zelnet serve`) and the guided tour (`zelnet demo`).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "DemoApi.h"
#include "DemoTour.h"
#include "RequestCommand.h"
#include "RequestOptions.h"
#include "zel/testing/MockServer.h"

namespace {

constexpr const char* kUsage =
    "usage: zelnet get|post|put|patch|delete PATH [options]\n"
    "       zelnet serve [--port N] [--client-id ID --client-secret S]\n"
    "       zelnet demo\n"
    "request options: --base URL (or ZELNET_BASE_URL), --token T, --client-id ID,\n"
    "  --client-secret S, --metrics-client, --app-state S, --param NAME=VALUE,\n"
    "  --header NAME:VALUE, --form NAME=VALUE, --file NAME=PATH[;type=MIME][;filename=F],\n"
    "  --gzip (post), --priority high|default|low (get), --no-sanity-check (get), --streaming,\n"
    "  --cacert FILE, --timeout SECONDS, --metrics, --report-errors, --asserts, --har FILE, "
    "--json\n";

int serve(const std::vector<std::string>& args) {
  std::uint16_t port = 0;
  zelnet::DemoApiCredentials credentials;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw zelnet::UsageError(args[i] + " needs a value");
      return args[++i];
    };
    if (args[i] == "--port") {
      const std::string text = value();
      char* end = nullptr;
      const long parsed = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || parsed < 0 || parsed > 65535) {
        throw zelnet::UsageError("--port wants a number from 0 to 65535, got \"" + text + "\"");
      }
      port = static_cast<std::uint16_t>(parsed);
    } else if (args[i] == "--client-id") {
      credentials.clientID = value();
    } else if (args[i] == "--client-secret") {
      credentials.clientSecret = value();
    } else {
      throw zelnet::UsageError("serve: unknown option " + args[i]);
    }
  }
  // Signals are taken by sigwait below, so every thread the server starts must block them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  zel::MockServer server(zel::MockServer::Loopback::IPv4, port);
  zelnet::installDemoApi(server, credentials);
  std::printf("zelnet serve: the demo API listens on %s (client id \"%s\"); Ctrl-C stops it\n",
              server.url("/v3/").c_str(), credentials.clientID.c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&stopSignals, &received);
  server.stop();
  std::printf("zelnet serve: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      std::fputs(kUsage, args.empty() ? stderr : stdout);
      return args.empty() ? 2 : 0;
    }
    if (args[0] == "serve") return serve({args.begin() + 1, args.end()});
    if (args[0] == "demo") {
      if (args.size() > 1) throw zelnet::UsageError("demo takes no options");
      return zelnet::runDemoTour(stdout);
    }
    const char* base = std::getenv("ZELNET_BASE_URL");
    const auto options =
        zelnet::parseRequestOptions(args, base ? std::optional<std::string>(base) : std::nullopt);
    return zelnet::runRequestCommand(options, stdout, stderr);
  } catch (const zelnet::UsageError& error) {
    std::fprintf(stderr, "zelnet: %s\n", error.what());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zelnet: %s\n", error.what());
    return 1;
  }
}
