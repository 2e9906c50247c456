#include "RequestCommand.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <boost/json/serialize.hpp>

#include "JsonText.h"
#include "ProgressBar.h"
#include "ReportCapture.h"
#include "Waterfall.h"
#include "zel/multipart/ZELMultipartFormChunk.h"
#include "zel/reporting/ZELHARExport.h"

namespace zelnet {
namespace {

using namespace std::chrono_literals;
using zel::ZELHTTPMethod;

zel::ParameterDictionary parametersOf(const RequestOptions& options) {
  zel::ParameterDictionary parameters;
  for (const auto& [name, value] : options.params) parameters.set(name, value);
  return parameters;
}

ClientSettings settingsOf(const RequestOptions& options) {
  return ClientSettings{.baseURL = options.baseURL,
                        .token = options.token,
                        .clientID = options.clientID,
                        .clientSecret = options.clientSecret,
                        .metricsClient = options.metricsClient,
                        .appState = options.appState,
                        .headers = options.headers,
                        .streaming = options.streaming,
                        .caCertFile = options.caCertFile,
                        .timeoutSeconds = options.timeoutSeconds,
                        .record = options.harFile.has_value()};
}

/// The HTTP status of the task's last response, when metrics have one.
std::int64_t lastStatus(const std::vector<zel::URLSessionTaskMetrics>& metrics) {
  if (metrics.empty() || metrics.back().transactionMetrics.empty()) return 0;
  const auto& response = metrics.back().transactionMetrics.back().response;
  const auto* http = dynamic_cast<const zel::HTTPURLResponse*>(response.get());
  return http ? http->statusCode() : 0;
}

/// Waits (bounded) until the recorder has stored every transaction and each has its metrics.
void waitForRecorder(const zel::ZELNetworkRecorder& recorder) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto transactions = recorder.transactions();
    bool complete = transactions.size() == recorder.acceptedCount();
    for (const auto& transaction : transactions) {
      complete = complete && (!transaction.metrics || transaction.metrics->isCompleted());
    }
    if (complete) return;
    std::this_thread::sleep_for(5ms);
  }
}

boost::json::array arrayOf(const auto& items) {
  boost::json::array array;
  for (const auto& item : items) array.emplace_back(item);
  return array;
}

boost::json::object errorObject(const zel::Error& error) {
  const auto reason = error.localizedFailureReason();
  return {{"domain", error.domain()},
          {"code", error.code()},
          {"description", error.localizedDescription()},
          {"failureReason", reason ? boost::json::value(*reason) : boost::json::value(nullptr)},
          {"userInfo", userInfoAsText(error)}};
}

boost::json::object jsonReport(const zel::Result<std::shared_ptr<zel::ZELAPIResponse>>& outcome,
                               const ReportCapture::Snapshot& reports) {
  boost::json::object report;
  report["ok"] = outcome.ok();
  if (outcome.ok()) {
    const auto& response = outcome.value();
    const std::int64_t status = response && response->statusCode != 0
                                    ? response->statusCode
                                    : lastStatus(reports.taskMetrics);
    report["statusCode"] = status;
    report["response"] = response ? response->responseObject() : boost::json::object();
    report["envelopeData"] =
        response && response->envelopeData ? *response->envelopeData : boost::json::object();
  } else {
    report["error"] = errorObject(outcome.error());
  }
  report["metrics"] = arrayOf(reports.metrics);
  report["networkErrors"] = arrayOf(reports.networkErrors);
  report["asserts"] = arrayOf(reports.asserts);
  report["notifications"] = arrayOf(reports.notifications);
  return report;
}

void printSummary(std::FILE* out, const RequestOptions& options,
                  const zel::Result<std::shared_ptr<zel::ZELAPIResponse>>& outcome,
                  const ReportCapture::Snapshot& reports, const ClientKit& kit) {
  if (outcome.ok()) {
    const auto& response = outcome.value();
    std::fprintf(
        out, "ok  HTTP %lld\n",
        static_cast<long long>(response && response->statusCode ? response->statusCode
                                                                : lastStatus(reports.taskMetrics)));
    std::fprintf(out, "%s\n",
                 prettyJSON(response ? response->responseObject() : boost::json::object()).c_str());
  } else {
    const auto& error = outcome.error();
    std::fprintf(out, "failed  %s %lld\n  %s\n", error.domain().c_str(),
                 static_cast<long long>(error.code()), error.localizedDescription().c_str());
    if (const auto reason = error.localizedFailureReason()) {
      std::fprintf(out, "  reason: %s\n", reason->c_str());
    }
  }
  if (kit.credentials->accessTokenInvalidCalls() > 0) {
    std::fprintf(out, "  the authentication provider was told the access token is invalid\n");
  }
  if (kit.credentials->authorizationFailedCalls() > 0) {
    std::fprintf(out, "  the authentication provider was told authorization failed\n");
  }
  if (options.metrics) {
    for (const auto& metrics : reports.taskMetrics) {
      std::fprintf(out, "\ntimings\n%s", drawWaterfall(metrics).c_str());
    }
    for (const auto& record : reports.metrics) {
      std::fprintf(out, "\nmetrics report\n%s\n", prettyJSON(record).c_str());
    }
  }
  for (const auto& record : reports.networkErrors) {
    std::fprintf(out, "\nerror report\n%s\n", prettyJSON(record).c_str());
  }
  for (const auto& text : reports.asserts) std::fprintf(out, "assert: %s\n", text.c_str());
  std::fprintf(out, "notifications: %zu\n", reports.notifications.size());
}

std::string readFileOption(const FileOption& file) {
  std::ifstream in(file.path, std::ios::binary);
  if (!in) throw UsageError("--file " + file.name + "=" + file.path + ": cannot read the file");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

zel::ZELBodyChunksBlock bodyChunksFor(const RequestOptions& options) {
  if (options.forms.empty() && options.files.empty()) return {};
  std::vector<std::shared_ptr<const zel::ZELMultipartFormChunk>> chunks;
  for (const auto& [name, value] : options.forms) {
    chunks.push_back(std::make_shared<zel::ZELMultipartFormChunkForm>(
        zel::Data::copy(std::string_view(value)), name));
  }
  for (const auto& file : options.files) {
    const std::string bytes = readFileOption(file);
    chunks.push_back(std::make_shared<zel::ZELMultipartFormChunkFile>(
        zel::Data::copy(std::string_view(bytes)), file.name,
        file.filename.value_or(std::filesystem::path(file.path).filename().string()),
        file.mimeType));
  }
  return [chunks = std::move(chunks)] { return chunks; };
}

zel::ZELAPIResponseFutureAndCancelToken startRequest(zel::ZELNetworkingClient& client,
                                                     const RequestOptions& options,
                                                     const zel::ZELBodyChunksBlock& chunks,
                                                     zel::ZELUploadProgressBlock progress) {
  const auto parameters = parametersOf(options);
  const auto priority = options.priority.value_or(zel::ZELAPIClientRequestPriority::Default);
  switch (options.method) {
    case ZELHTTPMethod::GET:
      if (!options.sanityCheck) return client.getPath(options.path, parameters, false, priority);
      if (options.priority) return client.getPath(options.path, parameters, priority);
      return client.getPath(options.path, parameters);
    case ZELHTTPMethod::POST:
      if (options.gzip) {
        // Compression with a progress bar: build the request, then run it.
        const zel::ZELBodyChunksBlock block = chunks ? chunks : [] {
          return std::vector<std::shared_ptr<const zel::ZELMultipartFormChunk>>{};
        };
        return client.executeDataTaskWithRequest(
            client.requestForPath(options.path, ZELHTTPMethod::POST, parameters, block, true),
            priority, std::move(progress));
      }
      if (chunks) return client.postPath(options.path, parameters, chunks, std::move(progress));
      return client.postPath(options.path, parameters);
    case ZELHTTPMethod::PUT:
      if (chunks) return client.putPath(options.path, parameters, chunks, std::move(progress));
      return client.putPath(options.path, parameters);
    case ZELHTTPMethod::PATCH:
      return client.patchPath(options.path, parameters);
    default:
      return client.deletePath(options.path, parameters);
  }
}

int runRequestCommand(const RequestOptions& options, std::FILE* out, std::FILE* err) {
  if (options.harFile && !std::ofstream(*options.harFile, std::ios::app)) {
    throw UsageError("--har " + *options.harFile + ": cannot write the file");
  }
  const auto chunks = bodyChunksFor(options);
  ClientKit kit;
  try {
    kit = makeClient(settingsOf(options));
  } catch (const std::exception& error) {
    throw UsageError(std::string(error.what()));
  }
  ReportCapture capture({.metrics = options.metrics,
                         .networkErrors = options.reportErrors,
                         .asserts = options.asserts});
  ProgressBar bar(err);
  auto request = startRequest(
      *kit.client, options, chunks,
      [&bar](std::uint64_t, std::int64_t sent, std::int64_t total) { bar.update(sent, total); });
  const auto limit = std::chrono::duration<double>(options.timeoutSeconds.value_or(60) + 30);
  const auto outcome = request.future.wait(limit);
  bar.finish();
  const auto started = capture.snapshot().notifications.size();
  capture.waitForReports(outcome.ok() || started == 0 ? 0 : 1, 5s);
  const auto reports = capture.snapshot();

  if (options.harFile && kit.recorder) {
    waitForRecorder(*kit.recorder);
    std::ofstream(*options.harFile, std::ios::trunc) << boost::json::serialize(
        zel::ZELHARLogForRecordedTransactions(kit.recorder->transactions()));
  }
  if (options.json) {
    std::fprintf(out, "%s\n", boost::json::serialize(jsonReport(outcome, reports)).c_str());
  } else {
    printSummary(out, options, outcome, reports, kit);
  }
  std::fflush(out);
  return outcome.ok() ? 0 : 1;
}

}  // namespace zelnet
