#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"

#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {
namespace {

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();
// A stack is read from its pointer for at most this many bytes, the crashed thread's for at least the second.
constexpr uint64_t kLargestStackRead = 8192;
constexpr uint64_t kSmallestCrashedStackRead = 512;
// Stack kept past the last thing found on it, and the least a frame walk keeps.
constexpr size_t kStackMargin = 128;
constexpr size_t kLeastStackKept = 512;
// Bytes dumped on either side of a pointer into a module's code, and of any other pointer.
constexpr uint64_t kCodeReach = 16;
constexpr uint64_t kDataReach = 1024;
// The general registers whose values are followed, in that order.
constexpr size_t kRegistersFollowed = 17;
constexpr size_t kRowBytes = 16;
constexpr char kBlankWord[] = "                  ";  // in place of a word ("%c%016IX ") the stack does not fill
static_assert(sizeof(kBlankWord) == 19);
constexpr char kHexDigits[] = "0123456789ABCDEF";
static_assert(sizeof(EXCEPTION_RECORD) == 152);

// `text` with each control character (CR and LF among them) as a blank: texts taken from the crashed client's
// keys stay on their own line, where a line break would add lines that read as metadata, headers or threads.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20)
      c = ' ';
  }
  return line;
}

// Writes formatted text to a log and remembers the first failure; everything after a failure is skipped.
class LogWriter {
 public:
  explicit LogWriter(FILE* file) : file_(file) {}

  // The platform runtime's printf format language, "%IX" (pointer-sized) and "%S" (wide text) included.
  __attribute__((format(ms_printf, 2, 3))) void Printf(const char* format, ...) {
    if (!ok_)
      return;
    va_list arguments;
    va_start(arguments, format);
    ok_ = vfprintf(file_, format, arguments) >= 0;
    va_end(arguments);
  }
  void Write(const void* data, size_t size) {
    if (ok_ && size > 0)
      ok_ = fwrite(data, 1, size, file_) == size;
  }
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  void Write(const char* text) { Write(text, strlen(text)); }
  // One blank, then the bytes as characters: printable ASCII as itself, anything else as '.'.
  void WriteCharacters(const uint8_t* bytes, size_t count) {
    char line[kRowBytes + 2] = {' '};
    for (size_t i = 0; i < count; ++i)
      line[i + 1] = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    line[count + 1] = '\n';
    Write(line, count + 2);
  }
  // The heading and one `key="value"` line per pair, values on one line; nothing without pairs.
  void WriteMetadata(const CrashLogInfo& info, const char* line_end) {
    if (info.metadata.empty())
      return;
    Write(line_end);
    Write("metadata:");
    Write(line_end);
    for (const auto& [key, value] : info.metadata) {
      Write(key);
      Write("=\"");
      Write(OneLine(value));
      Write("\"");
      Write(line_end);
    }
  }
  bool ok() const { return ok_; }

 private:
  FILE* const file_;
  bool ok_ = true;
};

uint64_t WordAt(const uint8_t* bytes, size_t offset) {
  uint64_t word;
  memcpy(&word, bytes + offset, sizeof(word));
  return word;
}

struct CodeRange {
  uint64_t start;
  uint64_t end;
};

// One thread's stack as the log keeps it: read from the stack pointer (two low bits cleared) on.
struct Stack {
  uint64_t address = 0;
  const uint8_t* bytes = nullptr;  // in the thread's reader
  size_t length = 0;

  bool Holds(uint64_t value) const { return value >= address && value - address < length; }
};

// How much of the stack read is worth keeping: with a sound stack, up to the last byte in use; without one,
// what the crashed thread left is all kept, and for another thread up to the deepest frame or pointer into
// the stack found near its top.
size_t TrimStack(const ThreadInfo& thread, const Stack& stack) {
  if (thread.GetStackSize() != 0) {
    size_t used = stack.length;
    while (used > 0 && stack.bytes[used - 1] == 0)
      --used;
    return std::min(stack.length, (used + 7) / 8 * 8 + kStackMargin);
  }
  if (thread.IsCrashed())
    return stack.length;
  size_t last_frame = 0;
  for (uint64_t frame = thread.GetRegisters().rbp;
       frame % 8 == 0 && stack.Holds(frame) && frame - stack.address + 16 <= stack.length;) {
    last_frame = frame - stack.address;
    const uint64_t saved = WordAt(stack.bytes, last_frame);
    if (saved <= frame || saved % 8 != 0)
      break;
    frame = saved;
  }
  size_t reach = std::max(last_frame, kLeastStackKept);
  for (size_t offset = 0; offset <= reach && offset + 8 <= stack.length; offset += 8) {
    const uint64_t value = WordAt(stack.bytes, offset);
    if (value % 8 == 0 && stack.Holds(value))
      reach = std::max<size_t>(reach, value - stack.address);
  }
  return std::min(reach + kStackMargin, stack.length);
}

// Reads the thread's stack with `reader`; a read that fails is tried again ending a page lower, so that a stack
// whose top pages are gone still shows what lies below them.
Stack ReadStack(const ThreadInfo& thread, RemoteMemoryReader* reader) {
  Stack stack;
  stack.address = thread.GetRegisters().rsp & ~uint64_t{3};
  const uint64_t stack_size = thread.GetStackSize();
  uint64_t length = stack_size >= 1 && stack_size <= kLargestStackRead ? stack_size : kLargestStackRead;
  if (thread.IsCrashed())
    length = std::max(length, kSmallestCrashedStackRead);
  if (stack.address < kPageSize)
    return stack;
  length = std::min(length, kUnlimited - stack.address);
  while (length > 0) {
    size_t read = 0;
    stack.bytes = reader->Read(stack.address, length, &read);
    if (stack.bytes) {
      stack.length = read;
      stack.length = TrimStack(thread, stack);
      return stack;
    }
    const uint64_t lower_end = (stack.address + length - 1) & ~(kPageSize - 1);
    length = lower_end > stack.address ? lower_end - stack.address : 0;
  }
  return stack;
}

// Gathers the memory around what one thread's registers and stack point to, within the thread's budget, and
// counts the values examined.
class PointerCollector {
 public:
  PointerCollector(const ProcessState& state, const std::vector<CodeRange>& code, MemoryRangeSet* ranges,
                   const Stack& stack, uint64_t budget)
      : state_(state), code_(code), ranges_(ranges), stack_(stack), budget_(budget) {}

  // False once the budget is spent: the value is then not examined.
  bool Examine(uint64_t value) {
    if (budget_ == 0)
      return false;
    if (value == 0 || stack_.Holds(value) || !state_.IsAddressReadable(value))
      return true;
    const bool in_code = std::any_of(code_.begin(), code_.end(), [value](const CodeRange& range) {
      return value >= range.start && value < range.end;
    });
    const uint64_t reach = in_code ? kCodeReach : kDataReach;
    const uint64_t before = ranges_->total_bytes();
    // A range that cannot be stored is left out of the dump; the log goes on without it.
    ranges_->AddRange(value > reach ? value - reach : 0, value < kUnlimited - reach ? value + reach : kUnlimited);
    const uint64_t growth = ranges_->total_bytes() - before;
    if (budget_ != kUnlimited)
      budget_ = growth >= budget_ ? 0 : budget_ - growth;
    return true;
  }

 private:
  const ProcessState& state_;
  const std::vector<CodeRange>& code_;
  MemoryRangeSet* const ranges_;
  const Stack& stack_;
  uint64_t budget_;
};

// The crashed thread may dump all it points to; the others share what is left of the log's budget, each taking
// at most its own share, or half of what is left when that is less (so that later threads keep some), the last
// one all of it.
uint64_t ThreadBudget(const ThreadInfo& thread, bool last_in_list, uint64_t total_bytes) {
  if (thread.IsCrashed())
    return kUnlimited;
  if (total_bytes >= kCrashLogMemoryBudget)
    return 0;
  const uint64_t left = kCrashLogMemoryBudget - total_bytes;
  if (left > kCrashLogThreadMemoryBudget)
    return kCrashLogThreadMemoryBudget;
  return last_in_list ? left : left / 2;
}

void WriteRegisters(LogWriter* out, uint32_t thread_id, const ThreadRegisters& r) {
  const size_t id = thread_id;
  const auto exponent = [&r](int i) { return static_cast<unsigned long>(r.st[i].sign_exponent); };
  out->Printf(
      "\nRegisters: %08IX\nRAX=%016IX   RBX=%016IX   RCX=%016IX\nRDX=%016IX   RSI=%016IX   RDI=%016IX\n"
      " R8=%016IX    R9=%016IX   R10=%016IX\nR11=%016IX   R12=%016IX   R13=%016IX\nR14=%016IX   R15=%016IX   "
      "RBP=%016IX\nRSP=%016IX   RIP=%016IX FLAGS=%08lX\n\nFPU stack: %08IX\nst(0)=%04lX%016IX st(1)=%04lX%016IX "
      "st(2)=%04lX%016IX\nst(3)=%04lX%016IX st(4)=%04lX%016IX st(5)=%04lX%016IX\nst(6)=%04lX%016IX "
      "st(7)=%04lX%016IX SW=%04lX CW=%04lX\n XMM0=%016IX%016IX  XMM1=%016IX%016IX\n XMM2=%016IX%016IX  "
      "XMM3=%016IX%016IX\n XMM4=%016IX%016IX  XMM5=%016IX%016IX\n XMM6=%016IX%016IX  XMM7=%016IX%016IX\n "
      "XMM8=%016IX%016IX  XMM9=%016IX%016IX\nXMM10=%016IX%016IX XMM11=%016IX%016IX\nXMM12=%016IX%016IX "
      "XMM13=%016IX%016IX\nXMM14=%016IX%016IX XMM15=%016IX%016IX\n",
      id, r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.r8, r.r9, r.r10, r.r11, r.r12, r.r13, r.r14, r.r15, r.rbp, r.rsp,
      r.rip, static_cast<unsigned long>(r.flags), id, exponent(0), r.st[0].significand, exponent(1),
      r.st[1].significand, exponent(2), r.st[2].significand, exponent(3), r.st[3].significand, exponent(4),
      r.st[4].significand, exponent(5), r.st[5].significand, exponent(6), r.st[6].significand, exponent(7),
      r.st[7].significand, static_cast<unsigned long>(r.status_word & 0xFFFF),
      static_cast<unsigned long>(r.control_word & 0xFFFF), r.xmm[0].high, r.xmm[0].low, r.xmm[1].high, r.xmm[1].low,
      r.xmm[2].high, r.xmm[2].low, r.xmm[3].high, r.xmm[3].low, r.xmm[4].high, r.xmm[4].low, r.xmm[5].high,
      r.xmm[5].low, r.xmm[6].high, r.xmm[6].low, r.xmm[7].high, r.xmm[7].low, r.xmm[8].high, r.xmm[8].low,
      r.xmm[9].high, r.xmm[9].low, r.xmm[10].high, r.xmm[10].low, r.xmm[11].high, r.xmm[11].low, r.xmm[12].high,
      r.xmm[12].low, r.xmm[13].high, r.xmm[13].low, r.xmm[14].high, r.xmm[14].low, r.xmm[15].high, r.xmm[15].low);
}

// Rows of 16 bytes: the address, the two words (the one at the current frame address marked '>', whose value
// becomes the next frame address, so that the saved frame-pointer chain stands out) and the characters.
void WriteStackDump(LogWriter* out, uint32_t thread_id, const Stack& stack, uint64_t frame) {
  out->Printf("\nStack dump: %08X\n", thread_id);
  for (size_t row = 0; row < stack.length; row += kRowBytes) {
    out->Printf("%012IX ", stack.address + row);
    for (size_t offset = row; offset < row + kRowBytes; offset += 8) {
      if (offset + 8 > stack.length) {
        out->Write(kBlankWord);
        continue;
      }
      const uint64_t value = WordAt(stack.bytes, offset);
      const bool marked = stack.address + offset == frame;
      if (marked)
        frame = value;
      out->Printf("%c%016IX ", marked ? '>' : ' ', value);
    }
    out->WriteCharacters(stack.bytes + row, std::min(kRowBytes, stack.length - row));
  }
}

bool WriteThread(LogWriter* out, const ProcessState& state, const ThreadInfo& thread, bool last_in_list,
                 const std::vector<CodeRange>& code, MemoryRangeSet* ranges) {
  std::unique_ptr<RemoteMemoryReader> reader = state.CreateMemoryReader();
  if (!reader)
    return false;
  const ThreadRegisters& r = thread.GetRegisters();
  const Stack stack = ReadStack(thread, reader.get());

  PointerCollector collector(state, code, ranges, stack, ThreadBudget(thread, last_in_list, ranges->total_bytes()));
  const uint64_t registers[kRegistersFollowed] = {r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.r8,  r.r9, r.r10,
                                                  r.r11, r.r12, r.r13, r.r14, r.r15, r.rbp, r.rsp, r.rip};
  size_t registers_examined = 0;
  while (registers_examined < kRegistersFollowed && collector.Examine(registers[registers_examined]))
    ++registers_examined;
  size_t words_examined = 0;
  const size_t words = stack.length / 8;
  while (words_examined < words && collector.Examine(WordAt(stack.bytes, words_examined * 8)))
    ++words_examined;

  const uint32_t id = thread.GetThreadId();
  out->Printf("\nThread: %08X\n", id);
  out->Printf("\nThreadInfo: %08X\nPriority=%08X\nCrashed=%d\nchecked_context_values=%Iu%s\nchecked_stack_values=%Iu%s\n",
              id, static_cast<unsigned>(thread.GetPriority()), thread.IsCrashed() ? 1 : 0, registers_examined,
              registers_examined == kRegistersFollowed ? " (all)" : "", words_examined,
              words_examined == words ? " (all)" : "");
  WriteRegisters(out, id, r);
  WriteStackDump(out, id, stack, r.rbp);
  return out->ok();
}

// A memory row: the address, the 16 byte columns in groups of four (blanks where the range has no byte) and the
// characters. Each byte reads as "%02X" would print it.
void WriteMemoryRow(LogWriter* out, uint64_t address, const uint8_t* bytes, size_t count) {
  out->Printf("%012IX", address);
  char columns[kRowBytes * 4];
  size_t length = 0;
  for (size_t column = 0; column < kRowBytes; ++column) {
    columns[length++] = ' ';
    if (column % 4 == 0)
      columns[length++] = ' ';
    columns[length++] = column < count ? kHexDigits[bytes[column] >> 4] : ' ';
    columns[length++] = column < count ? kHexDigits[bytes[column] & 0xF] : ' ';
  }
  out->Write(columns, length);
  out->WriteCharacters(bytes, count);
}

// Each range shrinks to whole readable pages at an end that cannot be read; what is left is read at once.
bool WriteMemoryDumps(LogWriter* out, const ProcessState& state, const MemoryRangeSet& ranges) {
  out->Write("\nMemory dumps:\n");
  std::unique_ptr<RemoteMemoryReader> reader = state.CreateMemoryReader();
  if (!reader)
    return false;
  for (auto range = ranges.ranges().begin(); range != ranges.ranges().end(); ++range) {
    uint64_t start = range->first, end = range->second;
    if (!state.IsAddressReadable(start))
      start = (start | (kPageSize - 1)) == kUnlimited ? end : (start | (kPageSize - 1)) + 1;
    if (start < end && !state.IsAddressReadable(end - 1))
      end = (end - 1) & ~(kPageSize - 1);
    if (start >= end)
      continue;
    size_t read = 0;
    const uint8_t* bytes = reader->Read(start, end - start, &read);
    for (size_t row = 0; bytes && row < read; row += kRowBytes)
      WriteMemoryRow(out, start + row, bytes + row, std::min(kRowBytes, read - row));
    if (std::next(range) != ranges.ranges().end())
      out->Write("\n");
  }
  return out->ok();
}

}  // namespace

bool WriteCrashLog(MemoryRangeSet* ranges, const ProcessState& state, const CrashLogInfo& info, FILE* file) {
  ranges->Clear();
  LogWriter out(file);
  const ModuleInfo* main_module = state.GetMainModule();
  char code[16];
  snprintf(code, sizeof(code), "%X", state.GetExceptionCode());
  out.Printf("ZORVI-CRASHLOG V1 desktop%s %s %s windows x64 release\n", info.product_suffix.c_str(),
             OneLine(info.version).c_str(), OneLine(info.build).c_str());
  out.Printf("%s caused exception %s at address %012IX ", main_module ? main_module->GetName() : "<no name>",
             state.GetExceptionName() ? state.GetExceptionName() : code, state.GetExceptionAddress());
  out.Printf("(Base: %012IX)\n", main_module ? main_module->GetBaseAddress() : uint64_t{0});
  out.WriteMetadata(info, "\n");
  if (!out.ok())
    return false;

  std::vector<CodeRange> code_ranges;
  for (const auto& module : state.GetModules())
    code_ranges.push_back({module->GetLoadAddress(), module->GetLoadAddress() + module->GetCodeEndOffset()});
  const ProcessState::Threads& threads = state.GetThreads();
  for (size_t i = 0; i < threads.size(); ++i) {
    if (i >= kCrashLogMaxThreads && !threads[i]->IsCrashed())
      continue;
    if (!WriteThread(&out, state, *threads[i], i + 1 == threads.size(), code_ranges, ranges))
      return false;
  }

  out.Write("\nUsed DLLs:\n");
  for (const auto& module : state.GetModules()) {
    out.Printf("%-26s %-46s Base: %012IX Size: %08X Timestamp: %08X\n", module->GetName(), module->GetVersion(),
               module->GetBaseAddress(), module->GetSize(), module->GetTimestamp());
  }
  if (!out.ok())
    return false;
  return WriteMemoryDumps(&out, state, *ranges);
}

bool WriteCrashLogFile(MemoryRangeSet* ranges, const ProcessState& state, const CrashLogInfo& info,
                       const base::FilePath& path) {
  FILE* file = _wfopen(path.value().c_str(), L"wt");
  if (!file) {
    PLOG(ERROR) << "Could not create the crash log " << path.value();
    return false;
  }
  bool written = WriteCrashLog(ranges, state, info, file);
  written = fclose(file) == 0 && written;
  if (!written) {
    LOG(ERROR) << "Writing the crash log " << path.value() << " failed";
    DeleteFileW(path.value().c_str());
  }
  return written;
}

bool WriteSelfCrashLogText(FILE* file, const CrashLogInfo& info, const std::wstring& image_file_name,
                           uint32_t exception_code, uint64_t exception_address, const uint8_t* dump,
                           size_t dump_size) {
  LogWriter out(file);
  out.Printf(
      "ZORVI-CRASHLOG V1 desktop%s %s %s windows x64 release\r\n%S caused exception %X at address %012I64X "
      "(BASE: 00000000)\r\n",
      info.product_suffix.c_str(), OneLine(info.version).c_str(), OneLine(info.build).c_str(), image_file_name.c_str(),
      exception_code,
      exception_address);
  out.WriteMetadata(info, "\r\n");
  out.Write("\r\nminidump:\r\n");
  out.Write(dump, dump_size);
  return out.ok();
}

namespace {

// The crashed process's minidump, written through a temporary file.
bool ReadMinidump(HANDLE process, DWORD process_id, const CrashInformationRecord& record, uint64_t largest_size,
                  std::string* dump) {
  base::FilePath temporary;
  if (!base::CreateTemporaryFile(&temporary)) {
    PLOG(ERROR) << "Could not create a temporary file for the minidump";
    return false;
  }
  const bool read = WriteMinidumpFile(process, process_id, record, temporary, largest_size) &&
                    base::ReadFileToString(temporary, dump);
  base::DeleteFile(temporary, false);
  return read;
}

}  // namespace

bool WriteSelfCrashLog(DWORD process_id, uint64_t record_address, const CrashLogInfo& info,
                       const base::FilePath& path, uint64_t largest_dump_size) {
  base::win::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  if (!process.IsValid()) {
    PLOG(ERROR) << "OpenProcess failed for the crashed reporter " << process_id;
    return false;
  }
  wchar_t image[MAX_PATH];
  const DWORD image_length = GetProcessImageFileNameW(process.Get(), image, MAX_PATH);
  if (image_length == 0) {
    PLOG(ERROR) << "GetProcessImageFileName failed";
    return false;
  }
  CrashInformationRecord record;
  if (!ReadClientMemory(process.Get(), record_address, &record, sizeof(record))) {
    PLOG(ERROR) << "Reading the crash information record of " << process_id << " failed";
    return false;
  }
  std::string dump;
  if (!ReadMinidump(process.Get(), process_id, record, largest_dump_size, &dump))
    return false;
  // Without its exception the log still carries the dump; code and address are then 0.
  uint64_t pointers[2] = {};
  EXCEPTION_RECORD exception = {};
  if (!ReadClientMemory(process.Get(), record.exception_pointers, pointers, sizeof(pointers)) ||
      !ReadClientMemory(process.Get(), pointers[0], &exception, sizeof(exception))) {
    exception = {};
  }

  FILE* file = _wfopen(path.value().c_str(), L"wb");
  if (!file) {
    PLOG(ERROR) << "Could not create the crash log " << path.value();
    return false;
  }
  bool written = WriteSelfCrashLogText(
      file, info, base::FilePath(base::StringPiece16(image, image_length)).BaseName().value(),
      exception.ExceptionCode, reinterpret_cast<uintptr_t>(exception.ExceptionAddress),
      reinterpret_cast<const uint8_t*>(dump.data()), dump.size());
  written = fclose(file) == 0 && written;
  if (!written) {
    LOG(ERROR) << "Writing the crash log " << path.value() << " failed";
    DeleteFileW(path.value().c_str());
  }
  return written;
}

}  // namespace installer
}  // namespace zorvi
