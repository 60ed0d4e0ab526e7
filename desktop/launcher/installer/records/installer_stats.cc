#include "desktop/launcher/installer/records/installer_stats.h"

#include <utility>

#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

namespace zorvi::installer {

namespace {

// The node that storing at `path` (dots open nested dictionaries) would delete: the first node on the way that
// is not a dictionary, or the node at the path itself; null when nothing would be deleted.
const base::Value* FindNodeReplacedBySet(const base::DictionaryValue& dictionary, const std::string& path) {
  const base::DictionaryValue* current = &dictionary;
  size_t start = 0;
  for (size_t dot; (dot = path.find('.', start)) != std::string::npos; start = dot + 1) {
    const base::Value* child = nullptr;
    if (!current->GetWithoutPathExpansion(path.substr(start, dot - start), &child))
      return nullptr;
    const base::DictionaryValue* child_dictionary = nullptr;
    if (!child->GetAsDictionary(&child_dictionary))
      return child;
    current = child_dictionary;
  }
  const base::Value* last = nullptr;
  return current->GetWithoutPathExpansion(path.substr(start), &last) ? last : nullptr;
}

}  // namespace

// StatsTreeGuard

StatsTreeGuard::StatsTreeGuard() = default;

StatsTreeGuard::~StatsTreeGuard() {
  DCHECK(live_views_.empty()) << "a statistics view outlives its tree";
}

void StatsTreeGuard::AddView(const base::DictionaryValue* dictionary) {
  ++live_views_[dictionary];
}

void StatsTreeGuard::RemoveView(const base::DictionaryValue* dictionary) {
  auto entry = live_views_.find(dictionary);
  DCHECK(entry != live_views_.end());
  if (entry != live_views_.end() && --entry->second == 0)
    live_views_.erase(entry);
}

bool StatsTreeGuard::HoldsViewedDictionary(const base::Value& node) const {
  const base::DictionaryValue* dictionary = nullptr;
  if (node.GetAsDictionary(&dictionary)) {
    if (live_views_.count(dictionary))
      return true;
    for (base::DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
      if (HoldsViewedDictionary(it.value()))
        return true;
    }
    return false;
  }
  const base::ListValue* list = nullptr;
  if (node.GetAsList(&list)) {
    for (const auto& child : *list) {
      if (HoldsViewedDictionary(*child))
        return true;
    }
  }
  return false;
}

// InstallerStats

InstallerStats::InstallerStats() = default;

InstallerStats::InstallerStats(base::DictionaryValue* dictionary, StatsTreeGuard* guard, base::TimeTicks start)
    : dictionary_(dictionary), guard_(guard), start_(start) {
  if (dictionary_ && guard_) {
    base::AutoLock hold(guard_->lock());
    guard_->AddView(dictionary_);
  }
}

InstallerStats::InstallerStats(AlreadyCounted, base::DictionaryValue* dictionary, StatsTreeGuard* guard,
                               base::TimeTicks start)
    : dictionary_(dictionary), guard_(guard), start_(start) {}

InstallerStats::InstallerStats(const InstallerStats& other)
    : InstallerStats(other.dictionary_, other.guard_, other.start_) {}

InstallerStats& InstallerStats::operator=(const InstallerStats& other) {
  if (this != &other) {
    InstallerStats copy(other);
    std::swap(dictionary_, copy.dictionary_);
    std::swap(guard_, copy.guard_);
    std::swap(start_, copy.start_);
  }
  return *this;
}

InstallerStats::~InstallerStats() {
  if (dictionary_ && guard_) {
    base::AutoLock hold(guard_->lock());
    guard_->RemoveView(dictionary_);
  }
}

bool InstallerStats::WouldDeleteViewedDictionary(const char* operation, const std::string& path) const {
  const base::Value* replaced = FindNodeReplacedBySet(*dictionary_, path);
  if (!replaced || !guard_->HoldsViewedDictionary(*replaced))
    return false;
  LOG(ERROR) << "Statistics: refusing " << operation << " of \"" << path
             << "\": it would delete a dictionary that a statistics view still writes into";
  return true;
}

template <typename Change>
void InstallerStats::ChangeUnlessViewed(const char* operation, const std::string& path, Change change) {
  if (!dictionary_ || !guard_)
    return;
  base::AutoLock hold(guard_->lock());
  if (!WouldDeleteViewedDictionary(operation, path))
    change(dictionary_);
}

void InstallerStats::SetString(const std::string& path, const std::string& value) {
  ChangeUnlessViewed("SetString", path,
                     [&](base::DictionaryValue* dictionary) { dictionary->SetString(path, value); });
}

void InstallerStats::SetInteger(const std::string& path, int value) {
  ChangeUnlessViewed("SetInteger", path,
                     [&](base::DictionaryValue* dictionary) { dictionary->SetInteger(path, value); });
}

void InstallerStats::Remove(const std::string& path) {
  ChangeUnlessViewed("Remove", path, [&](base::DictionaryValue* dictionary) { dictionary->Remove(path, nullptr); });
}

void InstallerStats::Increment(const std::string& path) {
  ChangeUnlessViewed("Increment", path, [&](base::DictionaryValue* dictionary) {
    int count = 0;
    if (!dictionary->GetInteger(path, &count))
      count = 0;
    // Wraps like the 32-bit counter it is rather than overflowing.
    dictionary->SetInteger(path, static_cast<int>(static_cast<unsigned>(count) + 1u));
  });
}

void InstallerStats::RecordTime(const std::string& key) {
  SetCurrentTime(key + ".time");
  SetInteger(key + ".elapsed", static_cast<int>((base::TimeTicks::Now() - start_).InMilliseconds()));
}

void InstallerStats::SetCurrentTime(const std::string& path) {
  SetString(path, FormatStatsTime(base::Time::Now()));
}

std::unique_ptr<InstallerStats> InstallerStats::AppendDictionary(const std::string& path) {
  if (!dictionary_ || !guard_)
    return std::make_unique<InstallerStats>();
  base::AutoLock hold(guard_->lock());
  base::ListValue* list = nullptr;
  if (!dictionary_->GetList(path, &list)) {
    // A refused child writes nowhere, so that its owner needs no special case.
    if (WouldDeleteViewedDictionary("AppendDictionary", path))
      return std::make_unique<InstallerStats>();
    list = new base::ListValue;
    dictionary_->Set(path, list);
  }
  auto* child = new base::DictionaryValue;
  list->Append(child);
  // Counted before the lock is let go, so that no other writer can delete the new dictionary unseen.
  guard_->AddView(child);
  return std::unique_ptr<InstallerStats>(new InstallerStats(AlreadyCounted(), child, guard_, start_));
}

std::string FormatStatsTime(base::Time time) {
  base::Time::Exploded now = {};
  time.UTCExplode(&now);
  return base::StringPrintf("%02d-%02d-%02d %02d:%02d:%02d.%03d", now.year, now.month, now.day_of_month, now.hour,
                            now.minute, now.second, now.millisecond);
}

}  // namespace zorvi::installer
