#include "platform/linux/desktop_files/file_manager_actions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <pugixml.hpp>
#include <sstream>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "platform/linux/desktop_files/desktop_entry.h"

namespace ferrytide::platform {
namespace fs = std::filesystem;

namespace {

const Logger kLog("file-manager");

constexpr std::string_view sendToPhone = "Send to phone";
// Every file, action and script of ours carries this in its name, id or text.
constexpr std::string_view ourId = "ferrytide-send";
constexpr std::string_view scriptMarker = "# ferrytide-send:";
constexpr FileManager allManagers[] = {FileManager::dolphin, FileManager::nautilus,
                                       FileManager::thunar, FileManager::nemo};

std::string programName(FileManager manager) {
  switch (manager) {
    case FileManager::dolphin: return "dolphin";
    case FileManager::nautilus: return "nautilus";
    case FileManager::thunar: return "thunar";
    case FileManager::nemo: return "nemo";
  }
  return {};
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

FileManagerActionsError failure(const fs::path& path, const std::string& reason) {
  return FileManagerActionsError(path.string() + ": " + reason);
}

void writeFile(const fs::path& path, const std::string& text, mode_t mode) {
  try {
    file_io::createDirectories(path.parent_path(), 0755);
    file_io::writeAtomically(path, asBytes(text), mode);
  } catch (const file_io::FileError& error) {
    throw FileManagerActionsError(error.what());
  }
}

void removeFile(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
  if (error) throw failure(path, error.message());
}

std::optional<std::string> readText(const fs::path& path) {
  try {
    std::optional<Bytes> content = file_io::readIfExists(path);
    if (!content) return std::nullopt;
    return toString(*content);
  } catch (const file_io::FileError& error) {
    throw FileManagerActionsError(error.what());
  }
}

// The files in `folder` whose names start with our id and end with `extension`.
std::vector<fs::path> ourFilesIn(const fs::path& folder, std::string_view extension) {
  std::vector<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (startsWith(name, ourId) && name.ends_with(extension)) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool isOurScript(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  std::optional<std::string> text = readText(path);
  return text && text->find(scriptMarker) != std::string::npos;
}

// A phone's name as a file name: no slash, not hidden.
std::string fileNameFor(std::string name) {
  std::replace(name.begin(), name.end(), '/', '-');
  name.erase(0, name.find_first_not_of('.'));
  return name.empty() ? std::string("Phone") : name;
}

// The start of the key in letters and digits: an id that stays when the phone is renamed.
std::string idFor(const std::string& pubkey) {
  std::string id;
  for (char c : pubkey) {
    if (std::isalnum(static_cast<unsigned char>(c))) id += c;
    if (id.size() == 12) break;
  }
  return std::string(ourId) + "-" + id;
}

bool thunarActionIsOurs(const pugi::xml_node& action) {
  return startsWith(action.child_value("unique-id"), ourId);
}

}  // namespace

struct FileManagerActions::Entry {
  std::string id;         // "ferrytide-send", or "ferrytide-send-<key start>" for one phone
  std::string phoneName;  // empty for the selected phone
  std::vector<std::string> command;  // ferrytide-cli share [--to KEY] --

  // The entry's text where it stands alone: "Send to phone", "Send to Pixel 8".
  std::string title() const {
    return phoneName.empty() ? std::string(sendToPhone) : "Send to " + phoneName;
  }
  // Its text inside a "Send to phone" submenu.
  std::string menuItem() const {
    return phoneName.empty() ? std::string(sendToPhone) : phoneName;
  }
  std::string description() const {
    return phoneName.empty() ? std::string("Sends the selected files to your phone with Ferrytide")
                             : "Sends the selected files to " + phoneName + " with Ferrytide";
  }
};

namespace {

// Where python3-nautilus puts its loader, for the Nautilus of today and the one before.
std::vector<fs::path> standardNautilusPythonLoaders() {
  std::vector<fs::path> libraries = {"/usr/lib", "/usr/lib64"};
  std::error_code error;
  for (fs::directory_iterator it("/usr/lib", error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().find("-linux-") != std::string::npos) {
      libraries.push_back(it->path());
    }
  }
  std::vector<fs::path> loaders;
  for (const fs::path& library : libraries) {
    for (const char* folder : {"extensions-4", "extensions-3.0"}) {
      loaders.push_back(library / "nautilus" / folder / "libnautilus-python.so");
    }
  }
  return loaders;
}

}  // namespace

FileManagerActionsOptions FileManagerActionsOptions::standard(fs::path cliProgram) {
  const char* path = std::getenv("PATH");
  return {paths::dataHome(), paths::configHome(), paths::configDirs(),
          path == nullptr ? std::string("/usr/local/bin:/usr/bin:/bin") : std::string(path),
          std::move(cliProgram), standardNautilusPythonLoaders()};
}

FileManagerActions::FileManagerActions(FileManagerActionsOptions options)
    : options_(std::move(options)) {}

std::string FileManagerActions::displayName(FileManager manager) {
  switch (manager) {
    case FileManager::dolphin: return "Dolphin";
    case FileManager::nautilus: return "Nautilus";
    case FileManager::thunar: return "Thunar";
    case FileManager::nemo: return "Nemo";
  }
  return {};
}

std::vector<FileManagerActions::Entry> FileManagerActions::entries(
    const std::vector<ShareOutbox::SharePeer>& phones) const {
  std::vector<std::string> share = {options_.cliProgram.string(), "share"};
  if (phones.size() <= 1) {
    share.emplace_back("--");
    return {Entry{std::string(ourId), {}, share}};
  }
  std::vector<Entry> result;
  for (const ShareOutbox::SharePeer& phone : phones) {
    std::vector<std::string> command = share;
    command.insert(command.end(), {"--to", phone.pubkey, "--"});
    result.push_back(Entry{idFor(phone.pubkey), phone.hostname, std::move(command)});
  }
  return result;
}

std::vector<FileManager> FileManagerActions::install(
    const std::vector<ShareOutbox::SharePeer>& phones) const {
  std::vector<Entry> list = entries(phones);
  std::vector<FileManager> written;
  for (FileManager manager : allManagers) {
    if (!present(manager)) continue;
    write(manager, list);
    written.push_back(manager);
  }
  return written;
}

void FileManagerActions::remove() const {
  for (FileManager manager : allManagers) erase(manager);
}

void FileManagerActions::refresh(const std::vector<ShareOutbox::SharePeer>& phones) const {
  std::vector<Entry> list = entries(phones);
  for (FileManager manager : allManagers) {
    try {
      if (!installedFiles(manager).empty()) write(manager, list);
    } catch (const std::exception& error) {
      kLog.error(displayName(manager) + " actions not rewritten: " + error.what());
    }
  }
}

std::vector<FileManagerState> FileManagerActions::status() const {
  std::vector<FileManagerState> states;
  for (FileManager manager : allManagers) {
    std::vector<fs::path> files = installedFiles(manager);
    bool installed = !files.empty();
    states.push_back({manager, displayName(manager), present(manager), installed, std::move(files)});
  }
  return states;
}

std::optional<bool> FileManagerActions::installedWherePresent() const {
  std::optional<bool> result;
  for (const FileManagerState& state : status()) {
    if (state.present) result = result.value_or(true) && state.installed;
  }
  return result;
}

bool FileManagerActions::present(FileManager manager) const {
  std::string program = programName(manager);
  std::istringstream folders(options_.searchPath);
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (folder.empty()) continue;
    if (::access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<fs::path> FileManagerActions::installedFiles(FileManager manager) const {
  std::vector<fs::path> files;
  std::error_code error;
  switch (manager) {
    case FileManager::dolphin:
      if (fs::exists(dolphinFile(), error)) files.push_back(dolphinFile());
      break;
    case FileManager::nautilus: {
      if (isOurScript(nautilusExtension())) files.push_back(nautilusExtension());
      fs::path entry = nautilusScripts() / sendToPhone;
      if (isOurScript(entry)) files.push_back(entry);
      if (fs::is_directory(entry, error)) {
        for (const fs::directory_entry& script : fs::directory_iterator(entry, error)) {
          if (isOurScript(script.path())) files.push_back(script.path());
        }
      }
      break;
    }
    case FileManager::thunar: {
      pugi::xml_document document;
      if (document.load_file(thunarActionsFile().c_str())) {
        for (pugi::xml_node action : document.child("actions").children("action")) {
          if (thunarActionIsOurs(action)) {
            files.push_back(thunarActionsFile());
            break;
          }
        }
      }
      for (const fs::path& entry : ourFilesIn(thunarSendToFolder(), ".desktop")) {
        files.push_back(entry);
      }
      break;
    }
    case FileManager::nemo:
      files = ourFilesIn(nemoFolder(), ".nemo_action");
      break;
  }
  return files;
}

void FileManagerActions::write(FileManager manager, const std::vector<Entry>& list) const {
  switch (manager) {
    case FileManager::dolphin: return writeDolphin(list);
    case FileManager::nautilus: return writeNautilus(list);
    case FileManager::thunar: return writeThunar(list);
    case FileManager::nemo: return writeNemo(list);
  }
}

void FileManagerActions::erase(FileManager manager) const {
  if (manager == FileManager::thunar) eraseThunarActions();
  for (const fs::path& file : installedFiles(manager)) {
    if (file != thunarActionsFile()) removeFile(file);
  }
  if (manager == FileManager::nautilus) {
    // The folder of per-phone scripts goes once it holds nothing but ours.
    std::error_code error;
    fs::path folder = nautilusScripts() / sendToPhone;
    if (fs::is_directory(folder, error) && fs::is_empty(folder, error)) fs::remove(folder, error);
  }
}

// One service menu; several phones make it a submenu. Dolphin runs only service menus that the
// user may execute.
void FileManagerActions::writeDolphin(const std::vector<Entry>& list) const {
  std::string actions;
  std::string sections;
  for (const Entry& entry : list) {
    actions += entry.id + ";";
    sections += "\n[Desktop Action " + entry.id + "]\n";
    sections += "Name=" + desktop_entry::stringValue(list.size() > 1 ? entry.menuItem() : entry.title()) + "\n";
    sections += "Icon=ferrytide\n";
    sections += "Exec=" + desktop_entry::execValue(entry.command, "%F") + "\n";
  }
  std::string text =
      "[Desktop Entry]\n"
      "Type=Service\n"
      "MimeType=all/allfiles;\n"
      "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
      "Icon=ferrytide\n";
  if (list.size() > 1) text += "X-KDE-Submenu=" + std::string(sendToPhone) + "\n";
  text += "Actions=" + actions + "\n" + sections;
  writeFile(dolphinFile(), text, 0755);
}

// A script in the Scripts menu, or a folder of them (a submenu) with several phones. Nautilus
// runs a script in the folder shown, with the selected files' names as its arguments.
void FileManagerActions::writeNautilus(const std::vector<Entry>& list) const {
  erase(FileManager::nautilus);
  if (nautilusLoadsPython()) return writeNautilusExtension(list);
  fs::path entry = nautilusScripts() / sendToPhone;
  std::error_code error;
  if (fs::exists(fs::symlink_status(entry, error))) {
    throw failure(entry, "is in the way: it was not written by Ferrytide");
  }
  for (const Entry& item : list) {
    fs::path script = list.size() > 1 ? entry / fileNameFor(item.phoneName) : entry;
    std::string text = "#!/bin/sh\n" + std::string(scriptMarker) +
                       " written by ferrytide-cli integrate, rewritten when the phones change.\n"
                       "exec " + desktop_entry::shellCommand(item.command) + " \"$@\"\n";
    writeFile(script, text, 0755);
  }
}

// A menu provider: the entries on the selected files' own menu, in a "Send to phone" submenu
// with several phones. The entries are JSON, which Python reads as its own literals.
void FileManagerActions::writeNautilusExtension(const std::vector<Entry>& list) const {
  json::Value entries = json::Value::array();
  for (const Entry& entry : list) {
    std::string label = list.size() > 1 ? entry.menuItem() : entry.title();
    entries.push_back({entry.id, label, entry.description(), entry.command});
  }
  std::string submenu = list.size() > 1 ? std::string(sendToPhone) : std::string();
  std::string text =
      std::string(scriptMarker) + " written by ferrytide-cli integrate, rewritten when the phones change.\n"
      "import subprocess\n"
      "\n"
      "import gi\n"
      "try:\n"
      "    gi.require_version(\"Nautilus\", \"4.0\")\n"
      "except ValueError:\n"
      "    gi.require_version(\"Nautilus\", \"3.0\")\n"
      "from gi.repository import GObject, Nautilus\n"
      "\n"
      "SUBMENU = " + json::Value(submenu).dump() + "\n"
      "ENTRIES = " + entries.dump() + "\n"
      "\n"
      "\n"
      "def local_files(files):\n"
      "    \"\"\"The selected files' paths; none when a folder or a remote file is among them.\"\"\"\n"
      "    paths = []\n"
      "    for file in files:\n"
      "        location = file.get_location()\n"
      "        path = location.get_path() if location is not None else None\n"
      "        if path is None or file.is_directory():\n"
      "            return []\n"
      "        paths.append(path)\n"
      "    return paths\n"
      "\n"
      "\n"
      "def menu_item(entry, paths):\n"
      "    name, label, tip, command = entry\n"
      "    item = Nautilus.MenuItem(name=name, label=label, tip=tip, icon=\"ferrytide\")\n"
      "    item.connect(\"activate\", lambda _item: subprocess.Popen(command + paths))\n"
      "    return item\n"
      "\n"
      "\n"
      "class FerrytideSendMenu(GObject.GObject, Nautilus.MenuProvider):\n"
      "    def get_file_items(self, *arguments):\n"
      "        # Nautilus 4 passes the files; Nautilus 3 the window, then the files.\n"
      "        paths = local_files(arguments[-1])\n"
      "        if not paths:\n"
      "            return []\n"
      "        items = [menu_item(entry, paths) for entry in ENTRIES]\n"
      "        if not SUBMENU:\n"
      "            return items\n"
      "        top = Nautilus.MenuItem(name=\"ferrytide-send-menu\", label=SUBMENU, icon=\"ferrytide\")\n"
      "        submenu = Nautilus.Menu()\n"
      "        top.set_submenu(submenu)\n"
      "        for item in items:\n"
      "            submenu.append_item(item)\n"
      "        return [top]\n";
  writeFile(nautilusExtension(), text, 0644);
}

// Custom actions in the user's uca.xml, which also holds the user's own: ours are replaced and
// theirs kept. A user without the file starts from the system-wide one, as Thunar itself does.
void FileManagerActions::writeThunar(const std::vector<Entry>& list) const {
  pugi::xml_document document;
  fs::path file = thunarActionsFile();
  std::error_code error;
  if (fs::exists(file, error)) {
    pugi::xml_parse_result parsed = document.load_file(file.c_str());
    if (!parsed) throw failure(file, std::string("not readable as XML: ") + parsed.description());
  } else {
    for (const fs::path& folder : options_.configDirs) {
      if (document.load_file((folder / "Thunar" / "uca.xml").c_str())) break;
      document.reset();
    }
  }
  pugi::xml_node actions = document.child("actions");
  if (!actions) actions = document.append_child("actions");
  while (pugi::xml_node ours = actions.find_child(thunarActionIsOurs)) actions.remove_child(ours);
  for (const Entry& entry : list) {
    pugi::xml_node action = actions.append_child("action");
    action.append_child("icon").text() = "ferrytide";
    action.append_child("name").text() = (list.size() > 1 ? entry.menuItem() : entry.title()).c_str();
    if (list.size() > 1) action.append_child("submenu").text() = std::string(sendToPhone).c_str();
    action.append_child("unique-id").text() = entry.id.c_str();
    action.append_child("command").text() = desktop_entry::shellCommand(entry.command, "%F").c_str();
    action.append_child("description").text() = entry.description().c_str();
    action.append_child("patterns").text() = "*";
    for (const char* kind : {"audio-files", "image-files", "other-files", "text-files", "video-files"}) {
      action.append_child(kind);
    }
  }
  std::ostringstream text;
  document.save(text, "\t");
  writeFile(file, text.str(), 0644);

  // The Send To menu: one entry per phone.
  for (const fs::path& old : ourFilesIn(thunarSendToFolder(), ".desktop")) removeFile(old);
  for (const Entry& entry : list) {
    std::string name = entry.phoneName.empty() ? "Phone (Ferrytide)" : entry.phoneName + " (Ferrytide)";
    std::string desktop = "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=" + desktop_entry::stringValue(name) + "\n"
                          "Comment=" + desktop_entry::stringValue(entry.description()) + "\n"
                          "Icon=ferrytide\n"
                          "Exec=" + desktop_entry::execValue(entry.command, "%F") + "\n";
    writeFile(thunarSendToFolder() / (entry.id + ".desktop"), desktop, 0644);
  }
}

void FileManagerActions::eraseThunarActions() const {
  fs::path file = thunarActionsFile();
  pugi::xml_document document;
  if (!document.load_file(file.c_str())) return;
  pugi::xml_node actions = document.child("actions");
  bool changed = false;
  while (pugi::xml_node ours = actions.find_child(thunarActionIsOurs)) {
    actions.remove_child(ours);
    changed = true;
  }
  if (!changed) return;
  std::ostringstream text;
  document.save(text, "\t");
  writeFile(file, text.str(), 0644);
}

void FileManagerActions::writeNemo(const std::vector<Entry>& list) const {
  for (const fs::path& old : ourFilesIn(nemoFolder(), ".nemo_action")) removeFile(old);
  for (const Entry& entry : list) {
    std::string text = "[Nemo Action]\n"
                       "Active=true\n"
                       "Name=" + desktop_entry::stringValue(entry.title()) + "\n"
                       "Comment=" + desktop_entry::stringValue(entry.description()) + "\n"
                       "Exec=" + desktop_entry::shellCommand(entry.command, "%F") + "\n"
                       "Icon-Name=ferrytide\n"
                       "Selection=notnone\n"
                       "Extensions=nodirs;\n"
                       "Quote=double\n";
    writeFile(nemoFolder() / (entry.id + ".nemo_action"), text, 0644);
  }
}

fs::path FileManagerActions::dolphinFile() const {
  return options_.dataHome / "kio" / "servicemenus" / (std::string(ourId) + ".desktop");
}
fs::path FileManagerActions::nautilusScripts() const {
  return options_.dataHome / "nautilus" / "scripts";
}
fs::path FileManagerActions::nautilusExtension() const {
  return options_.dataHome / "nautilus-python" / "extensions" / "ferrytide_send.py";
}
bool FileManagerActions::nautilusLoadsPython() const {
  std::error_code error;
  return std::any_of(options_.nautilusPythonLoaders.begin(), options_.nautilusPythonLoaders.end(),
                     [&](const fs::path& loader) { return fs::exists(loader, error); });
}
fs::path FileManagerActions::thunarActionsFile() const {
  return options_.configHome / "Thunar" / "uca.xml";
}
fs::path FileManagerActions::thunarSendToFolder() const {
  return options_.dataHome / "Thunar" / "sendto";
}
fs::path FileManagerActions::nemoFolder() const { return options_.dataHome / "nemo" / "actions"; }

}  // namespace ferrytide::platform
