// The settings file as the preferences read it back at start: arbitrary bytes in the INI
// format, parsed by QSettings and then read key by key. Preferences only open a file, so each
// input is written once to the memory file system, under a new name each time: QSettings keeps
// parsed files by name and would otherwise answer from an earlier input. Reading never throws;
// every value read is one a setter could have stored.
// The application object is a core one, as in the headless daemon: a stored image or icon would
// end the process if it reached Qt, so finding one here shows that it got past the screening.

#include <QCoreApplication>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "menu/models/preferences.h"
#include "scratch_folder.h"

using namespace ferrytide::menu;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzing::keepLogsOutOfSyslog();
  static QCoreApplication application(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::uint64_t counter = 0;
  const std::filesystem::path file =
      fuzzing::scratchFolder() / ("Ferrytide-" + std::to_string(++counter) + ".conf");
  fuzzing::writeInput(file, data, size);
  {
    Preferences preferences(QString::fromStdString(file.string()));
    if (preferences.saveFolder().isEmpty() || preferences.effectiveDeviceName().isNull()) {
      std::abort();
    }
    for (auto it = preferences.displayNames().cbegin(); it != preferences.displayNames().cend();
         ++it) {
      if (it.value().isNull()) std::abort();
    }
    if (preferences.clipHotkey().keycaps().isEmpty()) std::abort();
    preferences.pendingUnpairs();
  }
  std::filesystem::remove(file);
  std::filesystem::path aside = file;
  std::filesystem::remove(aside += ".damaged");
  return 0;
}
