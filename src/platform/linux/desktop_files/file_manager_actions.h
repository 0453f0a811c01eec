#pragma once

// "Send to phone" in the file managers: actions that hand the selected files to
// `ferrytide-cli share`, which queues them in the share outbox for the application to send.
//
//   Dolphin   <data>/kio/servicemenus/ferrytide-send.desktop (a submenu with several phones)
//   Nautilus  <data>/nautilus-python/extensions/ferrytide_send.py where Nautilus loads Python
//             extensions, else <data>/nautilus/scripts/Send to phone (a folder of scripts with
//             several phones)
//   Thunar    custom actions in <config>/Thunar/uca.xml, and <data>/Thunar/sendto/ferrytide-*.desktop
//   Nemo      <data>/nemo/actions/ferrytide-send-*.nemo_action
//
// With no phone or one, there is one "Send to phone" entry for the application's selected
// phone; with several, one entry per phone, which names it with `--to` and its key. The actions
// are written only for the file managers found on the PATH, and rewritten whenever the phones
// change, so that the names stay current.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/support/error.h"
#include "core/transfer/share_outbox.h"

namespace ferrytide::platform {

class FileManagerActionsError : public Error {
 public:
  using Error::Error;
};

enum class FileManager { dolphin, nautilus, thunar, nemo };

struct FileManagerState {
  FileManager manager = FileManager::dolphin;
  std::string name;        // "Dolphin"
  bool present = false;    // its program is on the PATH
  bool installed = false;  // our actions are in place
  std::vector<std::filesystem::path> files;  // ours that exist
};

struct FileManagerActionsOptions {
  std::filesystem::path dataHome;    // $XDG_DATA_HOME
  std::filesystem::path configHome;  // $XDG_CONFIG_HOME
  // Where Thunar's system-wide actions are, which a user's first uca.xml starts from.
  std::vector<std::filesystem::path> configDirs;
  std::string searchPath;  // $PATH, where the file managers are looked for
  // The program the actions run: the absolute path of ferrytide-cli.
  std::filesystem::path cliProgram;
  // Nautilus's loader of Python extensions, any of which makes the menu an extension rather
  // than a script (which Nautilus shows only under Scripts).
  std::vector<std::filesystem::path> nautilusPythonLoaders;

  // The user's folders and PATH, and `cliProgram`.
  static FileManagerActionsOptions standard(std::filesystem::path cliProgram);
};

class FileManagerActions {
 public:
  explicit FileManagerActions(FileManagerActionsOptions options);

  // Writes the actions for every file manager found, replacing earlier ones of ours. The file
  // managers written for; throws FileManagerActionsError (with the file and the reason) when
  // one cannot be written, or when the user's uca.xml cannot be read as XML, which is then left
  // as it is.
  std::vector<FileManager> install(const std::vector<ShareOutbox::SharePeer>& phones) const;
  // Takes ours out of every file manager, found or not; the user's own actions stay.
  void remove() const;
  // Rewrites the actions of the file managers that have them, for the phones as they are now.
  // Best effort: a failure is logged.
  void refresh(const std::vector<ShareOutbox::SharePeer>& phones) const;

  std::vector<FileManagerState> status() const;
  // Whether every file manager found has the actions; nothing when none is found.
  std::optional<bool> installedWherePresent() const;

  static std::string displayName(FileManager manager);

 private:
  struct Entry;
  std::vector<Entry> entries(const std::vector<ShareOutbox::SharePeer>& phones) const;
  bool present(FileManager manager) const;
  std::vector<std::filesystem::path> installedFiles(FileManager manager) const;
  void write(FileManager manager, const std::vector<Entry>& entries) const;
  void erase(FileManager manager) const;

  void writeDolphin(const std::vector<Entry>& entries) const;
  void writeNautilus(const std::vector<Entry>& entries) const;
  void writeNautilusExtension(const std::vector<Entry>& entries) const;
  void writeThunar(const std::vector<Entry>& entries) const;
  void writeNemo(const std::vector<Entry>& entries) const;
  void eraseThunarActions() const;

  std::filesystem::path dolphinFile() const;
  std::filesystem::path nautilusScripts() const;
  std::filesystem::path nautilusExtension() const;
  bool nautilusLoadsPython() const;
  std::filesystem::path thunarActionsFile() const;
  std::filesystem::path thunarSendToFolder() const;
  std::filesystem::path nemoFolder() const;

  FileManagerActionsOptions options_;
};

}  // namespace ferrytide::platform
