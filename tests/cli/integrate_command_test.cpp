// `ferrytide-cli integrate` as a user runs it, in a home of the test's own with stand-in file
// managers on the PATH; and the actions, run as the file managers run them, must queue the
// selected files for the right phone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "core/peers/peer_store.h"
#include "core/support/file_io.h"
#include "core/transfer/share_outbox.h"
#include "platform/linux/desktop_files/file_manager_actions.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"

namespace ferrytide::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Finished {
  int status = -1;
  std::string output;
};

class IntegrateCommandTest : public ::testing::Test {
 protected:
  IntegrateCommandTest() {
    for (const char* program : {"thunar", "nautilus"}) addFileManager(program);
  }

  void addFileManager(const std::string& program) {
    fs::create_directories(bin());
    writeText(bin() / program, "#!/bin/sh\n");
    fs::permissions(bin() / program, fs::perms::owner_all);
  }

  // A shell command line with this home and PATH, as the file manager's child would run it.
  Finished shell(const std::string& command, const fs::path& folder = {}) const {
    Environment environment = {
        {"HOME", (home_.path() / "home").string()},
        {"XDG_DATA_HOME", dataHome().string()},
        {"XDG_CONFIG_HOME", configHome().string()},
        {"XDG_CONFIG_DIRS", (home_.path() / "etc").string()},
        {"PATH", bin().string() + ":/usr/bin:/bin"}};
    std::string script = folder.empty() ? command : "cd '" + folder.string() + "' && " + command;
    ChildProcess child({"/bin/sh", "-c", script}, environment);
    std::optional<int> status = child.waitForExit(60s);
    return Finished{status.value_or(-1), child.output()};
  }

  Finished integrate(const std::string& action) const {
    return shell(std::string("'") + FERRYTIDE_CLI_PATH + "' integrate " + action);
  }

  void pairPhones() const {
    PeerStore store(dataHome() / "Ferrytide");
    store.save(phoneRecord("Galaxy", kKeyB, "192.168.1.24", 1733480000000));
    store.save(phoneRecord("Pixel 8", kKeyA, "192.168.1.23", 1733490000000));
  }

  // The actions for this home, with Nautilus's Python loader at one of `loaders`, if any.
  platform::FileManagerActions actionsHere(std::vector<fs::path> loaders = {}) const {
    return platform::FileManagerActions({.dataHome = dataHome(),
                                         .configHome = configHome(),
                                         .configDirs = {},
                                         .searchPath = bin().string(),
                                         .cliProgram = FERRYTIDE_CLI_PATH,
                                         .nautilusPythonLoaders = std::move(loaders)});
  }
  static std::vector<ShareOutbox::SharePeer> twoPhones() {
    return {{"Pixel 8", kKeyA, ""}, {"Galaxy", kKeyB, ""}};
  }

  // The outbox's one job: its manifest, and its files' contents in order.
  std::pair<ShareOutbox::Manifest, std::vector<std::string>> onlyJob() const {
    ShareOutbox outbox(dataHome() / "group.com.quenfold.ferrytide");
    std::vector<fs::path> jobs = outbox.pendingJobs();
    EXPECT_EQ(jobs.size(), 1u);
    if (jobs.empty()) return {};
    ShareOutbox::Manifest manifest = outbox.readManifest(jobs.front());
    std::vector<std::string> contents;
    for (const fs::path& file : outbox.jobFiles(jobs.front(), manifest)) {
      contents.push_back(readText(file));
    }
    outbox.removeJob(jobs.front());
    return {manifest, contents};
  }

  // Two selected files whose names a careless command line would mangle.
  std::vector<fs::path> selectFiles() const {
    fs::path folder = home_.path() / "home" / "My Files";
    fs::create_directories(folder);
    std::vector<fs::path> files = {folder / "-a b.txt", folder / "it's.pdf"};
    writeText(files[0], "first");
    writeText(files[1], "second");
    return files;
  }

  fs::path bin() const { return home_.path() / "bin"; }
  fs::path dataHome() const { return home_.path() / "data"; }
  fs::path configHome() const { return home_.path() / "config"; }
  fs::path ucaFile() const { return configHome() / "Thunar" / "uca.xml"; }

  static void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  static std::string readText(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Thunar's command for the action named `name`, with %F as Thunar expands it.
  std::string thunarCommand(const std::string& name, const std::vector<fs::path>& files) const {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_file(ucaFile().c_str()));
    std::string command;
    for (pugi::xml_node action : document.child("actions").children("action")) {
      if (action.child_value("name") == name) command = action.child_value("command");
    }
    std::string quoted;
    for (const fs::path& file : files) quoted += " '" + shellEscaped(file.string()) + "'";
    std::size_t at = command.find(" %F");
    EXPECT_NE(at, std::string::npos) << command;
    return at == std::string::npos ? command : command.replace(at, 3, quoted);
  }
  static std::string shellEscaped(std::string text) {
    for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 4) {
      text.replace(at, 1, "'\\''");
    }
    return text;
  }

  TempDir home_;
};

TEST_F(IntegrateCommandTest, InstallsForTheFileManagersFoundAndRemovesOnlyItsOwn) {
  writeText(ucaFile(),
            "<?xml version=\"1.0\"?>\n<actions><action><name>Open Terminal Here</name>"
            "<unique-id>1-1</unique-id><command>x-terminal-emulator</command></action></actions>\n");
  fs::create_directories(dataHome() / "nautilus" / "scripts");
  writeText(dataHome() / "nautilus" / "scripts" / "Resize images", "#!/bin/sh\n");

  Finished before = integrate("status");
  ASSERT_EQ(before.status, 0) << before.output;
  EXPECT_NE(before.output.find("Dolphin   not found"), std::string::npos) << before.output;
  EXPECT_NE(before.output.find("Thunar    not installed"), std::string::npos) << before.output;

  Finished install = integrate("install");
  ASSERT_EQ(install.status, 0) << install.output;
  EXPECT_NE(install.output.find("\"Send to phone\" is in Nautilus, Thunar"), std::string::npos)
      << install.output;
  Finished installed = integrate("status");
  EXPECT_NE(installed.output.find("Nautilus  installed"), std::string::npos) << installed.output;
  EXPECT_NE(installed.output.find("Thunar    installed"), std::string::npos) << installed.output;
  EXPECT_NE(installed.output.find("Nemo      not found"), std::string::npos) << installed.output;
  EXPECT_FALSE(fs::exists(dataHome() / "kio")) << "nothing for a file manager that is not there";
  std::string uca = readText(ucaFile());
  EXPECT_NE(uca.find("Open Terminal Here"), std::string::npos) << uca;
  EXPECT_NE(uca.find("ferrytide-send"), std::string::npos) << uca;

  Finished removed = integrate("remove");
  ASSERT_EQ(removed.status, 0) << removed.output;
  Finished after = integrate("status");
  EXPECT_NE(after.output.find("Nautilus  not installed"), std::string::npos) << after.output;
  EXPECT_NE(after.output.find("Thunar    not installed"), std::string::npos) << after.output;
  uca = readText(ucaFile());
  EXPECT_NE(uca.find("Open Terminal Here"), std::string::npos) << uca;
  EXPECT_EQ(uca.find("ferrytide-send"), std::string::npos) << uca;
  EXPECT_TRUE(fs::exists(dataHome() / "nautilus" / "scripts" / "Resize images"));
  EXPECT_FALSE(fs::exists(dataHome() / "nautilus" / "scripts" / "Send to phone"));

  Finished none = shell(std::string("PATH=/nonexistent '") + FERRYTIDE_CLI_PATH + "' integrate install");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.output.find("No supported file manager found"), std::string::npos) << none.output;
}

TEST_F(IntegrateCommandTest, EachPhonesActionQueuesTheSelectedFilesForThatPhone) {
  pairPhones();
  actionsHere().install(twoPhones());
  std::vector<fs::path> files = selectFiles();

  Finished thunar = shell(thunarCommand("Galaxy", files));
  ASSERT_EQ(thunar.status, 0) << thunar.output;
  auto [galaxyJob, galaxyFiles] = onlyJob();
  EXPECT_EQ(galaxyJob.targetPubkeys, std::vector<std::string>{kKeyB});
  EXPECT_EQ(galaxyFiles, (std::vector<std::string>{"first", "second"}));

  // Nautilus runs the script in the folder shown, with the selected names as arguments.
  fs::path script = dataHome() / "nautilus" / "scripts" / "Send to phone" / "Pixel 8";
  Finished nautilus = shell("'" + script.string() + "' '-a b.txt' 'it'\\''s.pdf'", files[0].parent_path());
  ASSERT_EQ(nautilus.status, 0) << nautilus.output;
  auto [pixelJob, pixelFiles] = onlyJob();
  EXPECT_EQ(pixelJob.targetPubkeys, std::vector<std::string>{kKeyA});
  EXPECT_EQ(pixelFiles, (std::vector<std::string>{"first", "second"}));

  for (const fs::directory_entry& entry : fs::directory_iterator(dataHome() / "Thunar" / "sendto")) {
    Finished valid = shell("desktop-file-validate '" + entry.path().string() + "'");
    EXPECT_EQ(valid.status, 0) << entry.path() << ": " << valid.output;
  }
}

// Nautilus's Python bindings as far as the extension uses them, and a Nautilus that asks for
// the menu of two files and chooses one phone's entry.
const char* const kStandInGi = R"(
def require_version(name, version):
    pass
)";
const char* const kStandInRepository = R"(
class GObject:
    class GObject:
        pass

class Nautilus:
    class MenuProvider:
        pass

    class MenuItem:
        def __init__(self, **properties):
            self.properties, self.handlers, self.submenu = properties, [], None
        def connect(self, signal, handler):
            self.handlers.append(handler)
        def set_submenu(self, menu):
            self.submenu = menu

    class Menu:
        def __init__(self):
            self.items = []
        def append_item(self, item):
            self.items.append(item)
)";
const char* const kStandInNautilus = R"(
import runpy, sys
extension = runpy.run_path(sys.argv[1])

class File:
    def __init__(self, path, folder=False):
        self.path, self.folder = path, folder
    def get_location(self):
        return self
    def get_path(self):
        return self.path
    def is_directory(self):
        return self.folder

menu = extension["FerrytideSendMenu"]()
print("with a folder:", len(menu.get_file_items(None, [File("/tmp", folder=True)])))
[top] = menu.get_file_items([File(path) for path in sys.argv[3:]])
print(top.properties["label"] + ":", ", ".join(item.properties["label"] for item in top.submenu.items))
for item in top.submenu.items:
    if item.properties["label"] == sys.argv[2]:
        for handler in item.handlers:
            if handler(item).wait() != 0:
                sys.exit("the share failed")
)";

TEST_F(IntegrateCommandTest, NautilusGetsAMenuExtensionWhereItLoadsPython) {
  pairPhones();
  fs::path loader = home_.path() / "lib" / "libnautilus-python.so";
  writeText(loader, "");
  platform::FileManagerActions actions = actionsHere({loader});
  actions.install(twoPhones());
  fs::path extension = dataHome() / "nautilus-python" / "extensions" / "ferrytide_send.py";
  EXPECT_FALSE(fs::exists(dataHome() / "nautilus" / "scripts" / "Send to phone"));

  fs::path python = home_.path() / "python";
  writeText(python / "gi" / "__init__.py", kStandInGi);
  writeText(python / "gi" / "repository.py", kStandInRepository);
  writeText(python / "nautilus.py", kStandInNautilus);
  std::vector<fs::path> files = selectFiles();
  Finished nautilus = shell("PYTHONPATH='" + python.string() + "' python3 '" + (python / "nautilus.py").string() +
                       "' '" + extension.string() + "' Galaxy '" + shellEscaped(files[0].string()) +
                       "' '" + shellEscaped(files[1].string()) + "'");
  ASSERT_EQ(nautilus.status, 0) << nautilus.output;
  EXPECT_NE(nautilus.output.find("with a folder: 0"), std::string::npos) << nautilus.output;
  EXPECT_NE(nautilus.output.find("Send to phone: Pixel 8, Galaxy"), std::string::npos)
      << nautilus.output;
  auto [job, contents] = onlyJob();
  EXPECT_EQ(job.targetPubkeys, std::vector<std::string>{kKeyB});
  EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));

  actions.remove();
  EXPECT_FALSE(fs::exists(extension));
}

}  // namespace
}  // namespace ferrytide::testing
