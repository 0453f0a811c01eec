#pragma once

#include "core/channel/key_vault.h"
#include "core/transfer/clipboard_sender.h"

namespace ferrytide::menu {

// What a service that sends single messages to phones needs: this computer's key (by default
// the key vault's own file) and the send's time-outs and wake (tests shorten the one and
// replace the other).
struct OneOffNetwork {
  KeyVault keyVault = KeyVault();
  OneOffOptions oneOff = OneOffOptions();
};

}  // namespace ferrytide::menu
