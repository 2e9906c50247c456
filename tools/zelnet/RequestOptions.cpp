#include "RequestOptions.h"

#include <cstdlib>
#include <string_view>

namespace zelnet {
namespace {

using zel::ZELHTTPMethod;

std::optional<ZELHTTPMethod> methodForVerb(std::string_view verb) {
  if (verb == "get") return ZELHTTPMethod::GET;
  if (verb == "post") return ZELHTTPMethod::POST;
  if (verb == "put") return ZELHTTPMethod::PUT;
  if (verb == "patch") return ZELHTTPMethod::PATCH;
  if (verb == "delete") return ZELHTTPMethod::DELETE;
  return std::nullopt;
}

/// "NAME<separator>VALUE" with a non-empty name.
std::pair<std::string, std::string> split(const std::string& option, const std::string& text,
                                          char separator) {
  const auto at = text.find(separator);
  if (at == std::string::npos || at == 0) {
    throw UsageError(option + " wants NAME" + separator + "VALUE, got \"" + text + "\"");
  }
  return {text.substr(0, at), text.substr(at + 1)};
}

/// NAME=PATH[;type=MIME][;filename=F]
FileOption parseFile(const std::string& text) {
  auto [name, rest] = split("--file", text, '=');
  FileOption file;
  file.name = name;
  std::size_t at = rest.find(';');
  file.path = rest.substr(0, at);
  while (at != std::string::npos) {
    const auto next = rest.find(';', at + 1);
    const std::string item = rest.substr(at + 1, next == std::string::npos ? next : next - at - 1);
    if (item.rfind("type=", 0) == 0 && item.size() > 5) {
      file.mimeType = item.substr(5);
    } else if (item.rfind("filename=", 0) == 0 && item.size() > 9) {
      file.filename = item.substr(9);
    } else {
      throw UsageError("--file: unknown attribute \"" + item + "\" (type=MIME or filename=F)");
    }
    at = next;
  }
  if (file.path.empty()) throw UsageError("--file " + text + ": no path");
  return file;
}

double parseTimeout(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400) {
    throw UsageError("--timeout wants a number of seconds above 0, got \"" + text + "\"");
  }
  return seconds;
}

zel::ZELAPIClientRequestPriority parsePriority(const std::string& text) {
  if (text == "high") return zel::ZELAPIClientRequestPriority::High;
  if (text == "default") return zel::ZELAPIClientRequestPriority::Default;
  if (text == "low") return zel::ZELAPIClientRequestPriority::Low;
  throw UsageError("--priority wants high, default or low, got \"" + text + "\"");
}

}  // namespace

bool isRequestVerb(const std::string& word) {
  return methodForVerb(word).has_value();
}

RequestOptions parseRequestOptions(const std::vector<std::string>& args,
                                   const std::optional<std::string>& environmentBaseURL) {
  if (args.empty() || !methodForVerb(args[0])) {
    throw UsageError("expected a verb (get, post, put, patch, delete), serve or demo");
  }
  RequestOptions options;
  options.method = *methodForVerb(args[0]);
  const std::string& verb = args[0];
  bool havePath = false;
  bool haveBase = false;

  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    const auto only = [&](std::string_view allowedVerb) {
      if (verb != allowedVerb) {
        throw UsageError(arg + " applies to " + std::string(allowedVerb) + " only");
      }
    };
    if (arg == "--base") {
      options.baseURL = value();
      haveBase = true;
    } else if (arg == "--token") {
      options.token = value();
    } else if (arg == "--client-id") {
      options.clientID = value();
    } else if (arg == "--client-secret") {
      options.clientSecret = value();
    } else if (arg == "--metrics-client") {
      options.metricsClient = true;
    } else if (arg == "--app-state") {
      options.appState = value();
    } else if (arg == "--param") {
      options.params.push_back(split(arg, value(), '='));
    } else if (arg == "--header") {
      auto [name, headerValue] = split(arg, value(), ':');
      const auto first = headerValue.find_first_not_of(' ');
      options.headers.emplace_back(name,
                                   first == std::string::npos ? "" : headerValue.substr(first));
    } else if (arg == "--form") {
      options.forms.push_back(split(arg, value(), '='));
    } else if (arg == "--file") {
      options.files.push_back(parseFile(value()));
    } else if (arg == "--gzip") {
      only("post");
      options.gzip = true;
    } else if (arg == "--priority") {
      only("get");
      options.priority = parsePriority(value());
    } else if (arg == "--no-sanity-check") {
      only("get");
      options.sanityCheck = false;
    } else if (arg == "--streaming") {
      options.streaming = true;
    } else if (arg == "--cacert") {
      options.caCertFile = value();
    } else if (arg == "--timeout") {
      options.timeoutSeconds = parseTimeout(value());
    } else if (arg == "--metrics") {
      options.metrics = true;
    } else if (arg == "--report-errors") {
      options.reportErrors = true;
    } else if (arg == "--asserts") {
      options.asserts = true;
    } else if (arg == "--har") {
      options.harFile = value();
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg.rfind("--", 0) == 0) {
      throw UsageError("unknown option " + arg);
    } else if (!havePath) {
      options.path = arg;
      havePath = true;
    } else {
      throw UsageError("unexpected argument \"" + arg + "\" (one PATH only)");
    }
  }
  if (!havePath) throw UsageError(verb + " needs a PATH");
  if (!haveBase) {
    if (!environmentBaseURL || environmentBaseURL->empty()) {
      throw UsageError("no base URL: give --base URL or set ZELNET_BASE_URL");
    }
    options.baseURL = *environmentBaseURL;
  }
  const bool hasBody = !options.forms.empty() || !options.files.empty();
  if (hasBody && options.method != zel::ZELHTTPMethod::POST &&
      options.method != zel::ZELHTTPMethod::PUT) {
    throw UsageError(std::string(options.forms.empty() ? "--file" : "--form") +
                     " applies to post and put only");
  }
  return options;
}

}  // namespace zelnet
