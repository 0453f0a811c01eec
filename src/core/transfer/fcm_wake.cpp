#include "core/transfer/fcm_wake.h"

#include <algorithm>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cstdlib>

#include "core/support/base64.h"
#include "core/support/crypto.h"
#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/paths.h"

namespace ferrytide {

// ---- Errors

FcmWake::Error FcmWake::Error::serviceAccountMissing(const std::string& path) {
  return Error(Kind::serviceAccountMissing, "service account JSON missing at " + path);
}

FcmWake::Error FcmWake::Error::serviceAccountMalformed(const std::string& reason) {
  return Error(Kind::serviceAccountMalformed, "service account JSON malformed: " + reason);
}

FcmWake::Error FcmWake::Error::privateKeyImport(const std::string& reason) {
  return Error(Kind::privateKeyImport, "RSA private key import failed: " + reason);
}

FcmWake::Error FcmWake::Error::sign(const std::string& reason) {
  return Error(Kind::sign, "JWT sign failed: " + reason);
}

FcmWake::Error FcmWake::Error::oauthHTTP(long status, const std::string& body) {
  return Error(Kind::oauthHTTP, "OAuth2 HTTP " + std::to_string(status) + ": " + body, status);
}

FcmWake::Error FcmWake::Error::fcmHTTP(long status, const std::string& body) {
  return Error(Kind::fcmHTTP, "FCM HTTP " + std::to_string(status) + ": " + body, status);
}

FcmWake::Error FcmWake::Error::transport(const std::string& reason) {
  return Error(Kind::transport, "FCM transport: " + reason);
}

// ---- Service account and defaults

FcmWake::ServiceAccount FcmWake::ServiceAccount::decode(ByteView text) {
  json::Value value = json::parse(text);
  return ServiceAccount{
      json::requireString(value, "project_id"), json::requireString(value, "private_key"),
      json::requireString(value, "private_key_id"), json::requireString(value, "client_email"),
      json::requireString(value, "token_uri")};
}

std::filesystem::path FcmWake::defaultServiceAccountURL() {
  return paths::applicationSupportDirectory() / "firebase-service-account.json";
}

std::string FcmWake::defaultSendEndpoint() {
  const char* configured = std::getenv(sendEndpointVariable);
  if (configured != nullptr && *configured != '\0') return configured;
  return std::string(publicSendEndpoint);
}

FcmWake::FcmWake(const std::filesystem::path& serviceAccountURL, HttpClient& session)
    : FcmWake(serviceAccountURL, session, Options()) {}

FcmWake::FcmWake(const std::filesystem::path& serviceAccountURL, HttpClient& session,
                 Options options)
    : session_(session), options_(std::move(options)) {
  std::optional<Bytes> content;
  try {
    content = file_io::readIfExists(serviceAccountURL);
  } catch (const file_io::FileError& error) {
    throw Error::serviceAccountMalformed(error.description());
  }
  if (!content) throw Error::serviceAccountMissing(serviceAccountURL.string());
  try {
    account_ = ServiceAccount::decode(*content);
  } catch (const json::DecodeError& error) {
    throw Error::serviceAccountMalformed(error.description());
  }
  if (auto reason = HttpClient::checkUrl(account_.token_uri)) {
    throw Error::serviceAccountMalformed("token_uri is not a valid URL: " + *reason);
  }
  while (!options_.sendEndpoint.empty() && options_.sendEndpoint.back() == '/') {
    options_.sendEndpoint.pop_back();
  }
}

namespace {

// The answer's body as text when it is valid UTF-8 (which the JSON writer checks), else a note
// of its size.
std::string renderBody(ByteView body) {
  std::string text = toString(body);
  try {
    json::encodeCompact(json::Value(text));
    return text;
  } catch (const json::DecodeError&) {
    return "<binary " + std::to_string(body.size()) + " bytes>";
  }
}

bool isSuccess(long status) { return status >= 200 && status <= 299; }

// Not an HTTP status line at all: the library saw an answer without one.
bool isHttpStatus(long status) { return status >= 100 && status <= 999; }

bool isTransient(HttpError::Kind kind) { return kind != HttpError::Kind::other; }

// A project identifier as one path segment: everything but the unreserved characters escaped,
// so that no identifier can reach another path or a query.
std::string escapePathSegment(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    bool alphanumeric = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (alphanumeric || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out += {'%', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    }
  }
  return out;
}

std::string hexUpper(unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  return out;
}

// Wipes key material when it goes out of scope, however the scope ends.
struct WipeOnExit {
  Bytes& bytes;
  ~WipeOnExit() { crypto::wipe(bytes); }
};

// Walks DER elements from the front of `data`.
class DerReader {
 public:
  explicit DerReader(ByteView data) : data_(data) {}

  // Reads an element's header and moves to the first byte of its content.
  std::size_t enter(std::uint8_t tag) {
    if (position_ >= data_.size() || data_[position_] != tag) {
      throw FcmWake::Error::privateKeyImport("expected tag 0x" + hexUpper(tag) + " at " +
                                             std::to_string(position_));
    }
    ++position_;
    std::size_t length = readLength();
    if (length > data_.size() - position_) {
      throw FcmWake::Error::privateKeyImport("content at " + std::to_string(position_) +
                                             " runs past the end");
    }
    return length;
  }

  // Reads a whole element and moves past it.
  ByteView take(std::uint8_t tag) {
    std::size_t length = enter(tag);
    ByteView content = data_.subspan(position_, length);
    position_ += length;
    return content;
  }

 private:
  std::size_t readLength() {
    if (position_ >= data_.size()) {
      throw FcmWake::Error::privateKeyImport("truncated length at " + std::to_string(position_));
    }
    std::uint8_t first = data_[position_++];
    if (first < 0x80) return first;
    std::size_t count = first & 0x7F;
    if (count == 0 || count > data_.size() - position_) {
      throw FcmWake::Error::privateKeyImport("bad long-form length");
    }
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (length > (SIZE_MAX >> 8)) throw FcmWake::Error::privateKeyImport("bad long-form length");
      length = (length << 8) | data_[position_++];
    }
    return length;
  }

  ByteView data_;
  std::size_t position_ = 0;
};

}  // namespace

// ---- Key and JWT

Bytes FcmWake::pkcs8DER(std::string_view fromPEM) {
  std::string body;
  std::size_t start = 0;
  while (start <= fromPEM.size()) {
    std::size_t end = fromPEM.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = fromPEM.size();
    std::string_view line = fromPEM.substr(start, end - start);
    if (!line.empty() && !line.starts_with("-----")) body += line;
    start = end + 1;
  }
  std::optional<Bytes> der = base64::decode(body);
  crypto::wipe({reinterpret_cast<std::uint8_t*>(body.data()), body.size()});
  if (!der) throw Error::privateKeyImport("PEM body not valid base64");
  return *der;
}

Bytes FcmWake::unwrapPKCS8(ByteView der) {
  DerReader reader(der);
  reader.enter(0x30);  // PrivateKeyInfo
  reader.take(0x02);   // version
  reader.take(0x30);   // algorithm identifier, not compared with anything
  ByteView key = reader.take(0x04);
  return Bytes(key.begin(), key.end());
}

Bytes FcmWake::signRS256(ByteView message, std::string_view pemPrivateKey) {
  Bytes der = pkcs8DER(pemPrivateKey);
  WipeOnExit wipeDer{der};
  Bytes keyBytes = unwrapPKCS8(der);
  WipeOnExit wipeKey{keyBytes};

  std::optional<crypto::RsaPrivateKey> key;
  try {
    key = crypto::RsaPrivateKey::fromPkcs1Der(keyBytes);
  } catch (const crypto::CryptoError& error) {
    throw Error::privateKeyImport(error.description());
  }
  if (!key->supportsSha256Pkcs1v15()) {
    throw Error::sign("RSA SHA-256 PKCS1v15 unsupported on this key");
  }
  try {
    return key->signSha256Pkcs1v15(message);
  } catch (const crypto::CryptoError& error) {
    throw Error::sign(error.description());
  }
}

std::string FcmWake::mintJWT() const {
  auto issuedAt =
      std::chrono::duration_cast<std::chrono::seconds>(options_.clock().time_since_epoch()).count();
  json::Value header = json::Value::object();
  header["alg"] = "RS256";
  header["typ"] = "JWT";
  header["kid"] = account_.private_key_id;
  json::Value claims = json::Value::object();
  claims["iss"] = account_.client_email;
  claims["scope"] = std::string(messagingScope);
  claims["aud"] = account_.token_uri;
  claims["iat"] = issuedAt;
  claims["exp"] = issuedAt + 3600;

  std::string signingInput = base64::encodeUrl(asBytes(json::encodeCompact(header))) + "." +
                             base64::encodeUrl(asBytes(json::encodeCompact(claims)));
  Bytes signature = signRS256(asBytes(signingInput), account_.private_key);
  return signingInput + "." + base64::encodeUrl(signature);
}

// ---- Requests

std::optional<std::string> FcmWake::usableCachedToken() const {
  std::lock_guard lock(mutex_);
  if (!cachedAccessToken_) return std::nullopt;
  if (cachedAccessToken_->expiresAt - options_.clock() <= std::chrono::seconds(60)) {
    return std::nullopt;
  }
  return cachedAccessToken_->token;
}

asio::awaitable<std::string> FcmWake::fetchAccessToken() {
  if (std::optional<std::string> cached = usableCachedToken()) co_return *cached;

  std::string jwt = mintJWT();
  HttpRequest request;
  request.url = account_.token_uri;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body = toBytes("grant_type=urn:ietf:params:oauth:grant-type:jwt-bearer&assertion=" + jwt);
  request.timeout = options_.tokenTimeout;
  HttpResponse response = co_await session_.perform(request);

  if (!isHttpStatus(response.status)) throw Error::transport("non-HTTP response");
  if (!isSuccess(response.status)) {
    throw Error::oauthHTTP(response.status, renderBody(response.body));
  }
  std::string accessToken;
  std::int64_t expiresIn = 0;
  try {
    json::Value answer = json::parse(response.body);
    accessToken = json::requireString(answer, "access_token");
    expiresIn = json::requireInt64(answer, "expires_in");
    json::requireString(answer, "token_type");
  } catch (const json::DecodeError& error) {
    throw Error::oauthHTTP(response.status, "bad token response: " + error.description());
  }

  // Bounded so that no answer can overflow the clock; a wake lasts seconds anyway.
  constexpr std::int64_t kLongestLifetime = 10LL * 365 * 24 * 3600;
  std::chrono::seconds lifetime(std::clamp<std::int64_t>(expiresIn, 0, kLongestLifetime));
  std::lock_guard lock(mutex_);
  cachedAccessToken_ = CachedAccessToken{accessToken, options_.clock() + lifetime};
  co_return accessToken;
}

asio::awaitable<void> FcmWake::sendWake(const std::string& toToken) {
  std::string accessToken = co_await fetchAccessToken();

  json::Value message = json::Value::object();
  message["token"] = toToken;
  message["data"] = json::Value::object({{"wake", "1"}});
  message["android"] = json::Value::object({{"priority", "high"}});
  json::Value body = json::Value::object();
  body["message"] = std::move(message);

  HttpRequest request;
  request.url = options_.sendEndpoint + "/v1/projects/" + escapePathSegment(account_.project_id) +
                "/messages:send";
  request.headers = {{"Authorization", "Bearer " + accessToken},
                     {"Content-Type", "application/json; charset=UTF-8"}};
  request.body = toBytes(json::encodeCompact(body));
  request.timeout = options_.sendTimeout;

  asio::any_io_executor executor = co_await asio::this_coro::executor;
  const std::size_t attempts = options_.attemptDelays.size();
  for (std::size_t attempt = 0; attempt < attempts; ++attempt) {
    if (options_.attemptDelays[attempt].count() > 0) {
      asio::steady_timer pause(executor, options_.attemptDelays[attempt]);
      co_await pause.async_wait(asio::use_awaitable);
    }
    std::optional<HttpResponse> response;
    std::optional<HttpError> failure;
    try {
      response = co_await session_.perform(request);
    } catch (const HttpError& error) {
      if (!isTransient(error.kind())) throw;
      failure = error;
    }
    if (failure) {
      if (attempt + 1 == attempts) {
        throw Error::transport("FCM transport (after retries): " + failure->description());
      }
      continue;
    }
    if (!isHttpStatus(response->status)) throw Error::transport("non-HTTP response");
    if (isSuccess(response->status)) co_return;
    throw Error::fcmHTTP(response->status, renderBody(response->body));
  }
}

}  // namespace ferrytide
