#include "TransferMetrics.h"

#include <openssl/ssl.h>

namespace zel::detail {
namespace {

std::optional<Date> dateAt(const Transfer& t, curl_off_t micros) {
  if (micros <= 0) return std::nullopt;
  return t.fetchStartDate +
         std::chrono::duration_cast<Date::duration>(std::chrono::microseconds(micros));
}

curl_off_t offInfo(CURL* easy, CURLINFO info) {
  curl_off_t value = 0;
  curl_easy_getinfo(easy, info, &value);
  return value;
}

long longInfo(CURL* easy, CURLINFO info) {
  long value = 0;
  curl_easy_getinfo(easy, info, &value);
  return value;
}

std::optional<std::string> stringInfo(CURL* easy, CURLINFO info) {
  char* value = nullptr;
  if (curl_easy_getinfo(easy, info, &value) != CURLE_OK || value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return std::string(value);
}

}  // namespace

void captureTLSInfo(Transfer& t) {
  if (t.tlsVersion || !t.easy) return;
  curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(t.easy.get(), CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || info == nullptr ||
      info->backend != CURLSSLBACKEND_OPENSSL || info->internals == nullptr) {
    return;
  }
  auto* ssl = static_cast<SSL*>(info->internals);
  t.tlsVersion = static_cast<std::uint16_t>(SSL_version(ssl));
  if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl)) {
    t.tlsCipher = SSL_CIPHER_get_name(cipher);
  }
}

URLSessionTaskTransactionMetrics collectTransactionMetrics(Transfer& t) {
  URLSessionTaskTransactionMetrics m;
  m.request = t.request();
  m.response = t.response;
  m.fetchStartDate = t.fetchStartDate;
  m.resourceFetchType = URLSessionTaskMetricsResourceFetchType::NetworkLoad;
  CURL* easy = t.easy.get();
  if (easy == nullptr) return m;

  captureTLSInfo(t);
  const curl_off_t lookup = offInfo(easy, CURLINFO_NAMELOOKUP_TIME_T);
  const curl_off_t connect = offInfo(easy, CURLINFO_CONNECT_TIME_T);
  const curl_off_t appConnect = offInfo(easy, CURLINFO_APPCONNECT_TIME_T);
  const curl_off_t preTransfer = offInfo(easy, CURLINFO_PRETRANSFER_TIME_T);
  const curl_off_t startTransfer = offInfo(easy, CURLINFO_STARTTRANSFER_TIME_T);
  const curl_off_t total = offInfo(easy, CURLINFO_TOTAL_TIME_T);
  const long connects = longInfo(easy, CURLINFO_NUM_CONNECTS);

  const bool connected = connect > 0 || connects > 0;
  m.isReusedConnection = t.response != nullptr && connects == 0;
  if (!m.isReusedConnection && connected) {
    // A fresh connection: lookup, connect and TLS phases. A reused one has none of them.
    m.domainLookupStartDate = t.fetchStartDate;
    m.domainLookupEndDate = dateAt(t, lookup).value_or(t.fetchStartDate);
    m.connectStartDate = m.domainLookupEndDate;
    if (appConnect > 0) {
      m.secureConnectionStartDate = dateAt(t, connect);
      m.secureConnectionEndDate = dateAt(t, appConnect);
      m.connectEndDate = m.secureConnectionEndDate;
    } else {
      m.connectEndDate = dateAt(t, connect);
    }
  }
  m.requestStartDate = dateAt(t, preTransfer);
  if (t.uploadDoneAt) {
    m.requestEndDate = t.fetchStartDate + std::chrono::duration_cast<Date::duration>(
                                              *t.uploadDoneAt - t.fetchStartSteady);
  } else {
    m.requestEndDate = m.requestStartDate;
  }
  if (t.response) {
    m.responseStartDate = dateAt(t, startTransfer);
    m.responseEndDate = dateAt(t, total);
  }

  switch (longInfo(easy, CURLINFO_HTTP_VERSION)) {
    case CURL_HTTP_VERSION_1_0:
      m.networkProtocolName = "http/1.0";
      break;
    case CURL_HTTP_VERSION_1_1:
      m.networkProtocolName = "http/1.1";
      break;
    case CURL_HTTP_VERSION_2_0:
      m.networkProtocolName = "h2";
      break;
    case CURL_HTTP_VERSION_3:
      m.networkProtocolName = "h3";
      break;
    default:
      break;
  }

  m.countOfRequestHeaderBytesSent = longInfo(easy, CURLINFO_REQUEST_SIZE);
  m.countOfRequestBodyBytesSent = offInfo(easy, CURLINFO_SIZE_UPLOAD_T);
  m.countOfRequestBodyBytesBeforeEncoding =
      t.uploadBody ? static_cast<std::int64_t>(t.uploadBody->size()) : 0;
  m.countOfResponseHeaderBytesReceived = longInfo(easy, CURLINFO_HEADER_SIZE);
  m.countOfResponseBodyBytesReceived = offInfo(easy, CURLINFO_SIZE_DOWNLOAD_T);
  m.countOfResponseBodyBytesAfterDecoding = t.decodedBodyBytes;

  m.remoteAddress = stringInfo(easy, CURLINFO_PRIMARY_IP);
  if (m.remoteAddress) m.remotePort = static_cast<int>(longInfo(easy, CURLINFO_PRIMARY_PORT));
  m.localAddress = stringInfo(easy, CURLINFO_LOCAL_IP);
  if (m.localAddress) m.localPort = static_cast<int>(longInfo(easy, CURLINFO_LOCAL_PORT));
  m.negotiatedTLSProtocolVersion = t.tlsVersion;
  m.negotiatedTLSCipherSuite = t.tlsCipher;
  return m;
}

}  // namespace zel::detail
