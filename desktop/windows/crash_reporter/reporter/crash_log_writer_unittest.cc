#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/json/json_writer.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

// Where the fake modules and the crash lie: nothing is mapped there.
constexpr uint64_t kNowhere = 0x0000DEA000000000;
constexpr uint64_t kPage = 4096;

std::string Hex(uint64_t value) {
  return base::StringPrintf("%llX", static_cast<unsigned long long>(value));
}

// Pages of the test's own memory, which the fake process reads.
class Pages {
 public:
  explicit Pages(size_t count)
      : data_(static_cast<uint8_t*>(VirtualAlloc(nullptr, count * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))),
        size_(count * kPage) {}
  ~Pages() { VirtualFree(data_, 0, MEM_RELEASE); }
  uint8_t* data() const { return data_; }
  uint64_t address() const { return reinterpret_cast<uintptr_t>(data_); }
  size_t size() const { return size_; }
  void Put(size_t offset, uint64_t word) { memcpy(data_ + offset, &word, sizeof(word)); }

 private:
  uint8_t* const data_;
  const size_t size_;
};

class FakeModule : public ModuleInfo {
 public:
  FakeModule(std::string name, std::string version, uint64_t base, uint32_t size, uint64_t code_end,
             uint32_t timestamp)
      : name_(std::move(name)), version_(std::move(version)), base_(base), code_end_(code_end), size_(size),
        timestamp_(timestamp) {}
  const char* GetName() const override { return name_.c_str(); }
  uint64_t GetBaseAddress() const override { return base_; }
  uint32_t GetSize() const override { return size_; }
  uint64_t GetLoadAddress() const override { return base_; }
  uint64_t GetCodeEndOffset() const override { return code_end_; }
  const char* GetVersion() const override { return version_.c_str(); }
  uint32_t GetTimestamp() const override { return timestamp_; }

 private:
  const std::string name_, version_;
  const uint64_t base_, code_end_;
  const uint32_t size_, timestamp_;
};

class FakeThread : public ThreadInfo {
 public:
  FakeThread(uint32_t id, int32_t priority, bool crashed, uint64_t stack_size, const ThreadRegisters& registers)
      : id_(id), priority_(priority), crashed_(crashed), stack_size_(stack_size), registers_(registers) {}
  uint32_t GetThreadId() const override { return id_; }
  int32_t GetPriority() const override { return priority_; }
  const ThreadRegisters& GetRegisters() const override { return registers_; }
  uint64_t GetStackSize() const override { return stack_size_; }
  bool IsCrashed() const override { return crashed_; }

 private:
  const uint32_t id_;
  const int32_t priority_;
  const bool crashed_;
  const uint64_t stack_size_;
  const ThreadRegisters registers_;
};

// A crashed process made of the test's own pages: only they are readable, a read reaching past them fails.
class FakeProcess : public ProcessState {
 public:
  class Reader : public RemoteMemoryReader {
   public:
    explicit Reader(const FakeProcess* process) : RemoteMemoryReader(GetCurrentProcess()), process_(process) {}
    const uint8_t* Read(uint64_t address, size_t size, size_t* bytes_read) override {
      *bytes_read = 0;
      return process_->Holds(address, size) ? RemoteMemoryReader::Read(address, size, bytes_read) : nullptr;
    }

   private:
    const FakeProcess* const process_;
  };

  bool Holds(uint64_t address, uint64_t size) const {
    for (const Pages* pages : readable) {
      if (address >= pages->address() && address - pages->address() + size <= pages->size())
        return true;
    }
    return false;
  }
  bool IsAddressReadable(uint64_t address) const override { return Holds(address, 1); }
  uint32_t GetExceptionCode() const override { return EXCEPTION_ACCESS_VIOLATION; }
  const char* GetExceptionName() const override { return nullptr; }
  uint64_t GetExceptionAddress() const override { return exception_address; }
  const Threads& GetThreads() const override { return threads; }
  const ModuleInfo* GetMainModule() const override { return main_module; }
  const Modules& GetModules() const override { return modules; }
  std::unique_ptr<RemoteMemoryReader> CreateMemoryReader() const override {
    return has_reader ? std::make_unique<Reader>(this) : nullptr;
  }

  std::vector<const Pages*> readable;
  uint64_t exception_address = 0;
  const ModuleInfo* main_module = nullptr;
  Threads threads;
  Modules modules;
  bool has_reader = true;
};

// Registers that point nowhere readable (below 64 KiB), but for the stack pointer and frame pointer.
ThreadRegisters Registers(uint64_t seed, uint64_t rsp, uint64_t rbp) {
  ThreadRegisters r = {};
  uint64_t* general[] = {&r.rax, &r.rbx, &r.rcx, &r.rdx, &r.rsi, &r.rdi, &r.r8,  &r.r9, &r.r10,
                         &r.r11, &r.r12, &r.r13, &r.r14, &r.r15, &r.rbp, &r.rsp, &r.rip};
  for (uint64_t i = 0; i < std::size(general); ++i)
    *general[i] = seed + i;
  r.rsp = rsp;
  r.rbp = rbp;
  r.flags = 0x10246;
  for (int i = 0; i < 8; ++i)
    r.st[i] = {0x8000000000000000 | (seed << 16) | i, static_cast<uint16_t>(0x3FFF + i)};
  r.status_word = 0x3800;
  r.control_word = 0x27F;
  for (int i = 0; i < 16; ++i)
    r.xmm[i] = {0x0123456789ABCDEF + seed + i, 0xFEDCBA9876543210 - i};
  return r;
}

// What the Linux-side check needs to print the log by the format's rules, from the fake's facts and the
// expectations the scenario was built for (what a stack keeps, how many values are examined, the ranges).
class Description {
 public:
  void SetHeader(const CrashLogInfo& info, const FakeProcess& process) {
    root_.SetStringWithoutPathExpansion("suffix", info.product_suffix);
    root_.SetStringWithoutPathExpansion("version", info.version);
    root_.SetStringWithoutPathExpansion("build", info.build);
    auto metadata = std::make_unique<base::ListValue>();
    for (const auto& [key, value] : info.metadata) {
      metadata->AppendString(key);
      metadata->AppendString(value);
    }
    root_.SetWithoutPathExpansion("metadata", std::move(metadata));
    root_.SetStringWithoutPathExpansion("code", Hex(process.GetExceptionCode()));
    root_.SetStringWithoutPathExpansion("address", Hex(process.GetExceptionAddress()));
    root_.SetStringWithoutPathExpansion("main", process.main_module ? process.main_module->GetName() : "");
    root_.SetStringWithoutPathExpansion("main_base", Hex(process.main_module ? process.main_module->GetBaseAddress() : 0));
    auto modules = std::make_unique<base::ListValue>();
    for (const auto& module : process.GetModules()) {
      for (const std::string& field : {std::string(module->GetName()), std::string(module->GetVersion()),
                                       Hex(module->GetBaseAddress()), Hex(module->GetSize()),
                                       Hex(module->GetTimestamp())}) {
        modules->AppendString(field);
      }
    }
    root_.SetWithoutPathExpansion("modules", std::move(modules));
  }
  // `kept` bytes of the stack at `stack` are printed; `registers` and `words` of its values are examined.
  void AddThread(const ThreadInfo& thread, const uint8_t* stack, size_t kept, size_t registers, size_t words) {
    const ThreadRegisters& r = thread.GetRegisters();
    auto fields = std::make_unique<base::ListValue>();
    for (uint64_t value : {uint64_t{thread.GetThreadId()}, uint64_t{static_cast<uint32_t>(thread.GetPriority())},
                           uint64_t{thread.IsCrashed()}, uint64_t{registers}, uint64_t{words},
                           uint64_t{reinterpret_cast<uintptr_t>(stack)}}) {
      fields->AppendString(Hex(value));
    }
    for (uint64_t value : {r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.r8, r.r9, r.r10, r.r11, r.r12, r.r13, r.r14,
                           r.r15, r.rbp, r.rsp, r.rip, uint64_t{r.flags}}) {
      fields->AppendString(Hex(value));
    }
    for (const X87Register& st : r.st) {
      fields->AppendString(Hex(st.sign_exponent));
      fields->AppendString(Hex(st.significand));
    }
    fields->AppendString(Hex(r.status_word));
    fields->AppendString(Hex(r.control_word));
    for (const Xmm128& xmm : r.xmm) {
      fields->AppendString(Hex(xmm.high));
      fields->AppendString(Hex(xmm.low));
    }
    fields->AppendString(base::HexEncode(stack, kept));
    threads_->Append(std::move(fields));
  }
  void AddRange(uint64_t start, uint64_t end) {
    auto range = std::make_unique<base::ListValue>();
    range->AppendString(Hex(start));
    range->AppendString(base::HexEncode(reinterpret_cast<const void*>(static_cast<uintptr_t>(start)), end - start));
    ranges_->Append(std::move(range));
    total_ += end - start;
  }
  uint64_t total() const { return total_; }
  bool Write(const std::wstring& path) {
    root_.SetWithoutPathExpansion("threads", std::move(threads_));
    root_.SetWithoutPathExpansion("ranges", std::move(ranges_));
    std::string json;
    return base::JsonWriter::Write(root_, &json) && test_support::WriteFileBytes(path, json);
  }

 private:
  base::DictionaryValue root_;
  std::unique_ptr<base::ListValue> threads_ = std::make_unique<base::ListValue>();
  std::unique_ptr<base::ListValue> ranges_ = std::make_unique<base::ListValue>();
  uint64_t total_ = 0;
};

size_t RoundUp8(size_t value) {
  return (value + 7) / 8 * 8;
}

std::string ReadLog(const std::wstring& path) {
  std::string text;
  EXPECT_TRUE(test_support::ReadFileBytes(path, &text));
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// A fake snapshot over the test's own pages, printed; the Linux-side check reads the log back as a reader would
// (register names, widths and values against the description; the rest byte for byte). Four threads:
// - the crashed one, stack pointer 3 bytes into its page (the low bits are cleared), a frame chain, 200 bytes in
//   use (so 200 + 128 are kept), a register and a stack word pointing into overlapping data (one merged range);
// - one whose stack is 24 bytes, with 0x7F and 0x80 among them (two rows, the second with one word);
// - one whose stack words point at 32 neighbouring 2 KiB blocks: its budget (61,440 bytes) ends after 30;
// - the last, without a known stack size: kept up to the deepest pointer into its stack found above its frames.
// The check's byte-for-byte comparison covers the thread count, the metadata block and the line ends.
// A second log has no main module and no metadata; its crashed thread's stack of 24 bytes lies at the end of
// its page, so the first read (at least 512 bytes) fails and the read is tried again up to the page's end.
TEST(CrashLogWriterTest, FakeSnapshotsPrintAsTheFormatSays) {
  const std::wstring folder = FreshRecordFolder(L"golden");
  Pages data(3), blocks(16), stack1(1), stack2(1), stack3(1), stack4(3);
  for (size_t i = 0; i < data.size(); ++i)
    data.data()[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < blocks.size(); ++i)
    blocks.data()[i] = static_cast<uint8_t>(i / 3);
  FakeProcess process;
  process.readable = {&data, &blocks, &stack1, &stack2, &stack3, &stack4};
  process.exception_address = kNowhere + 0x1234;
  process.modules.push_back(std::make_unique<FakeModule>("golden.exe", "1.2.3.4", kNowhere, 0x5000, 0x3000, 0x5F3E2A10));
  process.modules.push_back(std::make_unique<FakeModule>("a_module_with_a_rather_long_name.dll", "", kNowhere + 0x10000,
                                                         0x2000, 0x1000, 0));
  process.main_module = process.modules[0].get();

  // Crashed: 200 bytes in use, a frame chain at 16 -> 64 -> 160, a word pointing into the data.
  for (size_t i = 0; i < 200; i += 8)
    stack1.Put(i, 0x4141414141414141 + i);
  stack1.Put(16, stack1.address() + 64);
  stack1.Put(64, stack1.address() + 160);
  stack1.Put(160, 0x7FFF);
  stack1.Put(40, data.address() + 8000);
  stack1.Put(48, 0);
  ThreadRegisters r1 = Registers(0x100, stack1.address() + 3, stack1.address() + 16);
  r1.rax = data.address() + 6144;
  r1.rip = kNowhere + 0x1234;  // in golden.exe's code, which cannot be read
  process.threads.push_back(std::make_unique<FakeThread>(0x1A4, 2, true, 600, r1));
  const size_t kept1 = RoundUp8(200) + 128;

  // 24 bytes: characters, 0x7F and 0x80, and a last byte in use.
  const uint8_t kSmall[24] = {'A', 'B', 'C', 0x7F, 0x80, ' ', '~', 0, 'x', 0xFF, 0x20, 0x7E, '1', '2', '3', '4',
                              'z', 'y', 0x1F, 0x80, 0x7F, 'q', 'r', 's'};
  memcpy(stack2.data(), kSmall, sizeof(kSmall));
  process.threads.push_back(
      std::make_unique<FakeThread>(0x1B0, -1, false, sizeof(kSmall), Registers(0x200, stack2.address(), 0)));

  // 32 words, each pointing at the middle of its own 2 KiB block.
  constexpr size_t kBlockReach = 2048, kBudgetWords = 61440 / kBlockReach;
  for (size_t k = 0; k < 32; ++k)
    stack3.Put(k * 8, blocks.address() + k * kBlockReach + kBlockReach / 2);
  process.threads.push_back(std::make_unique<FakeThread>(0x1C8, 0, false, 256, Registers(0x300, stack3.address(), 0)));

  // No stack size: frames at 32 -> 96 -> 200 (which holds a smaller value), pointers into the stack at 48
  // (offset 704) and 640 (offset 1000); 1,000 + 128 bytes are kept.
  for (size_t i = 0; i < stack4.size(); ++i)
    stack4.data()[i] = static_cast<uint8_t>(i);
  stack4.Put(32, stack4.address() + 96);
  stack4.Put(96, stack4.address() + 200);
  stack4.Put(200, stack4.address() + 100);
  stack4.Put(48, stack4.address() + 704);
  stack4.Put(640, stack4.address() + 1000);
  process.threads.push_back(
      std::make_unique<FakeThread>(0x1D0, 15, false, 0, Registers(0x400, stack4.address(), stack4.address() + 32)));
  const size_t kept4 = 1000 + 128;

  // Texts from the client's keys with line breaks in them, which would start lines of their own.
  const CrashLogInfo info = {"_golden", "39.0.2234.0\nmetadata:", "651521\r",
                             {{"channel", "nightly"}, {"quote", "a \"b\" c"}, {"origin", "x\"\nThread: 0000DEAD\r\n\t"}}};
  Description description;
  description.SetHeader(info, process);
  description.AddThread(*process.threads[0], stack1.data(), kept1, 17, kept1 / 8);
  description.AddThread(*process.threads[1], stack2.data(), sizeof(kSmall), 17, sizeof(kSmall) / 8);
  description.AddThread(*process.threads[2], stack3.data(), 256, 17, kBudgetWords);
  description.AddThread(*process.threads[3], stack4.data(), kept4, 17, kept4 / 8);
  // The register's range [6144 - 1024, 6144 + 1024) and the word's [8000 - 1024, 8000 + 1024) overlap.
  description.AddRange(data.address() + 6144 - 1024, data.address() + 8000 + 1024);
  description.AddRange(blocks.address(), blocks.address() + kBudgetWords * kBlockReach);
  ASSERT_TRUE(description.Write(folder + L"\\full.json"));

  MemoryRangeSet ranges;
  ranges.AddRange(1, 2);  // emptied by the log
  ASSERT_TRUE(WriteCrashLogFile(&ranges, process, info, base::FilePath(folder + L"\\full.txt")));
  EXPECT_EQ(description.total(), ranges.total_bytes());
  EXPECT_EQ(2u, ranges.ranges().size());

  // No main module, no metadata.
  FakeProcess bare;
  bare.readable = {&stack2};
  bare.exception_address = 0xDEADBEEF;
  uint8_t* tail = stack2.data() + kPage - sizeof(kSmall);
  memcpy(tail, kSmall, sizeof(kSmall));
  bare.threads.push_back(std::make_unique<FakeThread>(0x2A0, 0, true, sizeof(kSmall),
                                                      Registers(0x500, reinterpret_cast<uintptr_t>(tail), 0)));
  Description bare_description;
  bare_description.SetHeader(CrashLogInfo(), bare);
  bare_description.AddThread(*bare.threads[0], tail, sizeof(kSmall), 17, sizeof(kSmall) / 8);
  ASSERT_TRUE(bare_description.Write(folder + L"\\bare.json"));
  EXPECT_TRUE(WriteCrashLogFile(&ranges, bare, CrashLogInfo(), base::FilePath(folder + L"\\bare.txt")));
}

// Six hundred threads, the crashed one first: it and the next 498 are printed, the rest left out.
TEST(CrashLogWriterTest, AtMost499ThreadsArePrinted) {
  const std::wstring folder = FreshRecordFolder(L"many_threads");
  Pages stack(1);
  FakeProcess process;
  process.readable = {&stack};
  for (uint32_t i = 0; i < 600; ++i) {
    process.threads.push_back(
        std::make_unique<FakeThread>(0x1000 + i, 0, i == 0, 24, Registers(0x100, stack.address(), 0)));
  }
  MemoryRangeSet ranges;
  const std::wstring path = folder + L"\\log.txt";
  ASSERT_TRUE(WriteCrashLogFile(&ranges, process, CrashLogInfo(), base::FilePath(path)));
  const std::string log = ReadLog(path);
  EXPECT_EQ(kCrashLogMaxThreads, Count(log, "\r\nThread: "));
  EXPECT_NE(std::string::npos, log.find("\r\nThread: 00001000\r\n\r\nThreadInfo: 00001000\r\nPriority=00000000\r\nCrashed=1"));
  EXPECT_NE(std::string::npos, log.find("\r\nThread: 000011F2\r\n")) << "the 499th";
  EXPECT_EQ(std::string::npos, log.find("\r\nThread: 000011F3\r\n")) << "the 500th";
}

// A log that cannot be written in full leaves nothing behind; a writer given a stream it cannot write to says so.
TEST(CrashLogWriterTest, AFailedWriteLeavesNoFile) {
  test_support::ScopedTestFolder folder(L"failed_log");
  Pages stack(1);
  FakeProcess process;
  process.readable = {&stack};
  process.has_reader = false;  // the log fails at its first thread
  process.threads.push_back(std::make_unique<FakeThread>(1, 0, true, 24, Registers(0x100, stack.address(), 0)));
  MemoryRangeSet ranges;
  const std::wstring path = folder.path() + L"\\log.txt";
  EXPECT_FALSE(WriteCrashLogFile(&ranges, process, CrashLogInfo(), base::FilePath(path)));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
  EXPECT_FALSE(WriteCrashLogFile(&ranges, process, CrashLogInfo(), base::FilePath(folder.path() + L"\\no\\log.txt")));

  const std::wstring read_only = folder.path() + L"\\read_only.txt";
  ASSERT_TRUE(test_support::WriteFileBytes(read_only, "x"));
  FILE* file = _wfopen(read_only.c_str(), L"rb");
  ASSERT_TRUE(file);
  process.has_reader = true;
  EXPECT_FALSE(WriteCrashLog(&ranges, process, CrashLogInfo(), file));
  const uint8_t dump[] = {'M', 'D', 'M', 'P'};
  EXPECT_FALSE(WriteSelfCrashLogText(file, CrashLogInfo(), L"x.exe", 1, 2, dump, sizeof(dump)));
  fclose(file);

  // A crashed reporter that cannot be opened (no process can be opened by id 0) gets no log.
  const std::wstring self_path = folder.path() + L"\\self.txt";
  EXPECT_FALSE(WriteSelfCrashLog(0, 0x1000, CrashLogInfo(), base::FilePath(self_path), kReporterMinidumpSizeLimit));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(self_path.c_str()));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
