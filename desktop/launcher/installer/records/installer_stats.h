// Installer statistics: one dictionary per run, written from several threads (the controller, the package
// fetcher, the download callbacks) through InstallerStats views that share one lock, and sent as JSON when the
// run ends. Keys are dotted paths: "os.version.major" lands in dictionary "os", dictionary "version", key
// "major". Lists of per-event dictionaries (one per fetch, one per download chunk) are filled through child
// views.
#ifndef DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_STATS_H_
#define DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_STATS_H_

#include <memory>
#include <string>
#include <unordered_map>

#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {
class DictionaryValue;
class Value;
}  // namespace base

namespace zorvi::installer {

// The lists the package fetcher fills and the sender sums up: one dictionary per fetch, and in each fetch one per
// download chunk.
inline constexpr char kFetchesStatsKey[] = "fetches";
inline constexpr char kDownloadChunksStatsKey[] = "download_chunks";

// The lock that guards one statistics tree, and which of its dictionaries live views write into. A write that
// would delete such a dictionary (replacing a list of fetches by a number, say) is refused: the view's
// writer may be on another thread and would go on writing into freed memory.
class StatsTreeGuard {
 public:
  StatsTreeGuard();
  StatsTreeGuard(const StatsTreeGuard&) = delete;
  StatsTreeGuard& operator=(const StatsTreeGuard&) = delete;
  ~StatsTreeGuard();

  base::Lock& lock() { return lock_; }

 private:
  friend class InstallerStats;

  // Called with the lock held.
  void AddView(const base::DictionaryValue* dictionary);
  void RemoveView(const base::DictionaryValue* dictionary);
  // Whether `node` is, or holds, a dictionary that a live view writes into. Called with the lock held.
  bool HoldsViewedDictionary(const base::Value& node) const;

  base::Lock lock_;
  std::unordered_map<const base::DictionaryValue*, int> live_views_;  // guarded by lock_: view count per target
};

// A view of one dictionary of a statistics tree. Copied freely; it owns nothing, and the tree's owner (the
// StatsSender) must outlive every view. Each operation changes the tree under the shared lock. A view made
// without a tree drops every write.
class InstallerStats {
 public:
  InstallerStats();
  InstallerStats(base::DictionaryValue* dictionary, StatsTreeGuard* guard, base::TimeTicks start);
  InstallerStats(const InstallerStats& other);
  InstallerStats& operator=(const InstallerStats& other);
  ~InstallerStats();

  void SetString(const std::string& path, const std::string& value);
  void SetInteger(const std::string& path, int value);
  // Removes the value at the path, if any.
  void Remove(const std::string& path);
  // Stores the integer at the path plus 1; anything else there (or nothing) counts as 0.
  void Increment(const std::string& path);
  // key + ".time" = the current UTC time text, then key + ".elapsed" = whole milliseconds since the start of
  // the statistics. Two separate changes: a reader may see the first without the second.
  void RecordTime(const std::string& key);
  // The current UTC time text at the path.
  void SetCurrentTime(const std::string& path);
  // Appends a new empty dictionary to the list at the path (a new list replaces anything else there) and
  // returns a view of it that shares this view's lock and start time.
  std::unique_ptr<InstallerStats> AppendDictionary(const std::string& path);

  base::TimeTicks start_time() const { return start_; }

 private:
  // A view of `dictionary`, already counted by the caller under the lock.
  struct AlreadyCounted {};
  InstallerStats(AlreadyCounted, base::DictionaryValue* dictionary, StatsTreeGuard* guard, base::TimeTicks start);

  // Runs `change` on the dictionary under the lock, unless storing at `path` would delete a dictionary that a
  // live view writes into; then logs and changes nothing.
  template <typename Change>
  void ChangeUnlessViewed(const char* operation, const std::string& path, Change change);
  // Whether storing at `path` would delete a viewed dictionary (logged). Called with the lock held.
  bool WouldDeleteViewedDictionary(const char* operation, const std::string& path) const;

  base::DictionaryValue* dictionary_ = nullptr;
  StatsTreeGuard* guard_ = nullptr;
  base::TimeTicks start_;
};

// "yyyy-mm-dd hh:mm:ss.mmm" of `time` in UTC, the year with all its digits.
std::string FormatStatsTime(base::Time time);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_RECORDS_INSTALLER_STATS_H_
