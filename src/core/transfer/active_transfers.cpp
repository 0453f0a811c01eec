#include "core/transfer/active_transfers.h"

#include <atomic>
#include <utility>

namespace ferrytide {
namespace {
std::atomic<std::uint64_t> nextConnectionId{1};
}  // namespace

ActiveTransfers::Connection::Connection(std::function<void()> cancel)
    : id_(nextConnectionId.fetch_add(1)), cancel_(std::move(cancel)) {}

void ActiveTransfers::Connection::cancel() const {
  if (cancel_) cancel_();
}

ActiveTransfers& ActiveTransfers::shared() {
  static ActiveTransfers instance;
  return instance;
}

std::shared_ptr<ActiveTransfers::Connection> ActiveTransfers::claim(
    const std::string& transferId, std::shared_ptr<Connection> connection) {
  std::lock_guard guard(lock_);
  std::shared_ptr<Connection>& owner = owners_[transferId];
  std::shared_ptr<Connection> previous = std::exchange(owner, std::move(connection));
  if (!previous || previous->id() == owner->id()) return nullptr;
  draining_.insert(previous->id());
  return previous;
}

void ActiveTransfers::release(const std::string& transferId, const Connection& connection) {
  std::lock_guard guard(lock_);
  auto owner = owners_.find(transferId);
  if (owner != owners_.end() && owner->second->id() == connection.id()) owners_.erase(owner);
  draining_.erase(connection.id());
}

bool ActiveTransfers::isReleased(const Connection& connection) const {
  std::lock_guard guard(lock_);
  for (const auto& [transferId, owner] : owners_) {
    if (owner->id() == connection.id()) return false;
  }
  return !draining_.contains(connection.id());
}

bool ActiveTransfers::anyInProgress() const {
  std::lock_guard guard(lock_);
  return !owners_.empty();
}

}  // namespace ferrytide
