#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/support/bytes.h"
#include "menu/models/clip.h"

namespace ferrytide {
class SerialQueue;
}  // namespace ferrytide

namespace ferrytide::menu {

// Every clip sent or received, newest first, kept in "clips.json" in the application's data
// folder as a JSON array of clips (see Clip). The list in memory is the truth and the file
// follows it: all changes of one pass of the event loop reach the file in one write, made off
// the main thread in the order asked for. There is no count limit. Main thread only.
class ClipHistory : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* fileName = "clips.json";

  // Writes the encoded list to the file; throws when it cannot.
  using Writer = std::function<void(ByteView data, const std::filesystem::path& file)>;

  // <application data folder>/clips.json
  static std::filesystem::path defaultURL();

  // Loads the file now. A missing file gives an empty history; so does a damaged one, which
  // is first set aside as "clips.json.damaged" so that the next save does not overwrite it.
  // The default writer is SecureFile::write (folder 0700, file 0600).
  explicit ClipHistory(std::filesystem::path fileURL = defaultURL(), Writer writer = {},
                       QObject* parent = nullptr);
  // Writes what is still waiting before it returns.
  ~ClipHistory() override;

  const std::vector<Clip>& clips() const { return clips_; }
  const std::filesystem::path& fileURL() const { return fileURL_; }

  // At the front, then saved.
  void insert(const Clip& clip);
  // Removes every clip, then saves the empty list.
  void clear();
  // The newest clip with this text; nothing for empty text.
  std::optional<Clip> clipOnClipboard(const QString& text) const;
  // Saves the list once the current pass of the event loop is done; asking again before then
  // changes nothing. A failed write is logged and keeps the previous file.
  void scheduleSave();

 Q_SIGNALS:
  void clipsChanged(const std::vector<ferrytide::menu::Clip>& clips);

 private:
  void load();
  void setAside(const std::string& reason) const;
  void saveNow();

  std::filesystem::path fileURL_;
  Writer writer_;
  std::vector<Clip> clips_;
  bool saveScheduled_ = false;
  std::unique_ptr<SerialQueue> io_;
};

}  // namespace ferrytide::menu
