#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace ferrytide {

// Which connection is receiving which transfer, so that a phone that reconnects to resume a
// file can take it over from a connection that still hangs. The application uses one shared
// instance for every receiver; tests make their own.
//
// A connection that claims a transfer already owned by another connection supersedes it: the
// old one is marked draining and cancelled, and the new one waits until the old one has closed
// its file and released (isReleased). Every operation runs under one lock.
class ActiveTransfers {
 public:
  // One connection as the hand-over sees it: an identity, and a way for another connection
  // to cancel it.
  class Connection {
   public:
    // `cancel` may be called from any thread, also after the connection has ended.
    explicit Connection(std::function<void()> cancel);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::uint64_t id() const { return id_; }
    void cancel() const;

   private:
    std::uint64_t id_;
    std::function<void()> cancel_;
  };

  static ActiveTransfers& shared();

  // Makes `connection` the owner of `transferId`. Returns the previous owner when there was
  // one and it is another connection; it is marked draining in the same step, so that it
  // cannot end unnoticed between the claim and the mark.
  std::shared_ptr<Connection> claim(const std::string& transferId,
                                    std::shared_ptr<Connection> connection);

  // The way out of every connection that claimed: gives up `transferId` if `connection` still
  // owns it, and leaves draining.
  void release(const std::string& transferId, const Connection& connection);

  // False while `connection` owns any transfer or is draining.
  bool isReleased(const Connection& connection) const;

  // Whether any connection is receiving a file.
  bool anyInProgress() const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<Connection>> owners_;
  std::set<std::uint64_t> draining_;
};

}  // namespace ferrytide
