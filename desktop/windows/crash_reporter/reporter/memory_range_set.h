// The ranges of a crashed process's memory that a crash log dumps: sorted, disjoint, and merged where they meet,
// with a running count of the bytes they cover, against which the log measures its budget.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MEMORY_RANGE_SET_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MEMORY_RANGE_SET_H_

#include <cstdint>
#include <map>

namespace zorvi {
namespace installer {

class MemoryRangeSet {
 public:
  using Ranges = std::map<uint64_t, uint64_t>;  // start -> end (exclusive)

  MemoryRangeSet();
  ~MemoryRangeSet();
  MemoryRangeSet(const MemoryRangeSet&) = delete;
  MemoryRangeSet& operator=(const MemoryRangeSet&) = delete;

  // Adds [start, end): every stored range it overlaps or touches becomes one with it, and total_bytes() grows
  // by the bytes no range covered before. False only when memory for it cannot be had.
  bool AddRange(uint64_t start, uint64_t end);
  void Clear();

  const Ranges& ranges() const { return ranges_; }
  uint64_t total_bytes() const { return total_bytes_; }

 private:
  Ranges ranges_;
  uint64_t total_bytes_ = 0;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MEMORY_RANGE_SET_H_
