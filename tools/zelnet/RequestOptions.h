#pragma once
// `zelnet VERB PATH [options]`: the command line of one request, parsed.

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "zel/client/ZELHTTPMethod.h"

namespace zelnet {

/// A bad command line; what() is the one-line message naming the bad option.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FileOption {
  std::string name;
  std::string path;
  std::string mimeType = "application/octet-stream";
  std::optional<std::string> filename;  // the path's last component when absent
};

struct RequestOptions {
  zel::ZELHTTPMethod method = zel::ZELHTTPMethod::GET;
  std::string path;
  std::string baseURL;
  std::string token;
  std::string clientID;
  std::string clientSecret;
  bool metricsClient = false;
  std::optional<std::string> appState;
  std::vector<std::pair<std::string, std::string>> params;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<std::pair<std::string, std::string>> forms;
  std::vector<FileOption> files;
  bool gzip = false;
  std::optional<zel::ZELAPIClientRequestPriority> priority;
  bool sanityCheck = true;
  bool streaming = false;
  std::optional<std::string> caCertFile;
  std::optional<double> timeoutSeconds;
  bool metrics = false;
  bool reportErrors = false;
  bool asserts = false;
  std::optional<std::string> harFile;
  bool json = false;
};

/// args: everything after the program name, the verb first. `environmentBaseURL` is
/// ZELNET_BASE_URL's value, used when there is no --base. Throws UsageError.
[[nodiscard]] RequestOptions parseRequestOptions(
    const std::vector<std::string>& args, const std::optional<std::string>& environmentBaseURL);

/// The verbs zelnet knows: get, post, put, patch, delete.
[[nodiscard]] bool isRequestVerb(const std::string& word);

}  // namespace zelnet
