#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/bytes.h"
#include "core/support/error.h"
#include "core/support/http_client.h"

namespace ferrytide {

// Asks Firebase Cloud Messaging to deliver a high-priority data message to a phone's
// registration token, so that a sleeping phone opens its listener again. Reads the deployment's
// service-account file, signs a JWT with its RSA key, trades the JWT for an OAuth 2.0 access
// token and posts the FCM HTTP v1 "send" request:
//
//   POST <endpoint>/v1/projects/<project_id>/messages:send
//   Authorization: Bearer ya29.c.b0Aaek...
//   {"message":{"android":{"priority":"high"},"data":{"wake":"1"},"token":"fMx2..."}}
//
// Callers make one per wake. Several sendWake() calls on one instance may run at once, from
// any executor; the access-token cache is shared under a lock.
class FcmWake {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  static constexpr std::string_view messagingScope =
      "https://www.googleapis.com/auth/firebase.messaging";
  static constexpr std::string_view publicSendEndpoint = "https://fcm.googleapis.com";
  // Names another base URL for the send endpoint (a test server, for example).
  static constexpr const char* sendEndpointVariable = "FERRYTIDE_FCM_ENDPOINT";

  class Error : public ferrytide::Error {
   public:
    enum class Kind {
      serviceAccountMissing,
      serviceAccountMalformed,
      privateKeyImport,
      sign,
      oauthHTTP,
      fcmHTTP,
      transport
    };

    static Error serviceAccountMissing(const std::string& path);
    static Error serviceAccountMalformed(const std::string& reason);
    static Error privateKeyImport(const std::string& reason);
    static Error sign(const std::string& reason);
    static Error oauthHTTP(long status, const std::string& body);
    static Error fcmHTTP(long status, const std::string& body);
    static Error transport(const std::string& reason);

    Kind kind() const { return kind_; }
    // The HTTP status of oauthHTTP and fcmHTTP; zero otherwise.
    long status() const { return status_; }

   private:
    Error(Kind kind, std::string description, long status = 0)
        : ferrytide::Error(std::move(description)), kind_(kind), status_(status) {}
    Kind kind_;
    long status_;
  };

  // The five keys read from the service-account JSON file; its other keys are ignored.
  struct ServiceAccount {
    std::string project_id;
    std::string private_key;  // PEM text of the PKCS#8 RSA key that signs the JWT
    std::string private_key_id;
    std::string client_email;
    std::string token_uri;  // the OAuth token endpoint, also the JWT's audience

    // Throws json::DecodeError when a key is missing or not a string.
    static ServiceAccount decode(ByteView json);
  };

  struct Options {
    // Base URL of the send endpoint, without a trailing "/".
    std::string sendEndpoint = defaultSendEndpoint();
    Clock clock = [] { return std::chrono::system_clock::now(); };
    std::chrono::milliseconds sendTimeout{4'000};
    std::chrono::milliseconds tokenTimeout{60'000};
    // The wait before each send attempt.
    std::array<std::chrono::milliseconds, 3> attemptDelays{std::chrono::milliseconds(0),
                                                           std::chrono::milliseconds(200),
                                                           std::chrono::milliseconds(500)};
  };

  // <application support>/firebase-service-account.json
  static std::filesystem::path defaultServiceAccountURL();
  // $FERRYTIDE_FCM_ENDPOINT when set and not empty, else the public endpoint.
  static std::string defaultSendEndpoint();

  // Reads the service-account file. Throws serviceAccountMissing when there is no file at
  // `serviceAccountURL`, serviceAccountMalformed when it cannot be read, does not decode, or
  // names a "token_uri" that is not an http or https URL. `session` must outlive the wake.
  FcmWake(const std::filesystem::path& serviceAccountURL, HttpClient& session);
  FcmWake(const std::filesystem::path& serviceAccountURL, HttpClient& session, Options options);

  // Returns once FCM has accepted the message (any 2xx status); does not wait for the phone.
  // Throws FcmWake::Error, or passes on an HttpError that is not one of the transient kinds
  // and a json::DecodeError when the token cannot be written as JSON.
  asio::awaitable<void> sendWake(const std::string& toToken);

  const ServiceAccount& account() const { return account_; }

  // The steps of signing, exposed for their own checks.
  // "<base64url header>.<base64url claims>.<base64url signature>", issued now.
  std::string mintJWT() const;
  static Bytes signRS256(ByteView message, std::string_view pemPrivateKey);
  // The DER bytes inside a PEM text. Throws privateKeyImport.
  static Bytes pkcs8DER(std::string_view fromPEM);
  // The PKCS#1 RSAPrivateKey bytes inside a PKCS#8 PrivateKeyInfo. Throws privateKeyImport.
  static Bytes unwrapPKCS8(ByteView der);

 private:
  struct CachedAccessToken {
    std::string token;
    std::chrono::system_clock::time_point expiresAt;
  };

  asio::awaitable<std::string> fetchAccessToken();
  std::optional<std::string> usableCachedToken() const;

  ServiceAccount account_;
  HttpClient& session_;
  Options options_;
  mutable std::mutex mutex_;
  std::optional<CachedAccessToken> cachedAccessToken_;  // guarded by mutex_
};

}  // namespace ferrytide
