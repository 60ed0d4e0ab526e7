// Rollback torture: random sequences of 30 operations of all seven kinds over a test's own registry subtrees
// and file tree, where for every k operation k fails (through the fault hook, and through a real fault in its
// place) and the transaction is rolled back. Afterwards the machine must equal what it was before, as captured
// in-process, as the system's reg.exe exports it and as each key's SDDL says. Without a failure, committing
// must leave what a plain model of the operations predicts, with no file kept aside.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/transactions/transaction_test_util.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test::EntryState;
using test::KeyState;
using test::MachineState;
using test::Sandbox;
using test::ValueState;

constexpr int kSequenceLength = 30;
// A key whose protected access list denies Everyone writing values and creating subkeys in it: changes there
// need a grant; its subkeys inherit only the full access.
constexpr wchar_t kProtectedSddl[] = L"D:P(D;;DCLC;;;WD)(A;OICI;KA;;;WD)";
constexpr wchar_t kRunningExe[] = L"app\\app.exe";
constexpr wchar_t kLockedFile[] = L"lock\\locked.txt";
constexpr wchar_t kVolatileKey[] = L"CU\\V";
// A key that belongs to the system and lets everyone only read it.
constexpr wchar_t kDeniedKey[] = L"CU\\V\\Denied";
constexpr wchar_t kDeniedSddl[] = L"O:SYG:SYD:P(A;;KR;;;WD)";

// The operation that the hook fails, and the target of its final change.
const Operation* g_failing_operation = nullptr;
std::wstring g_failing_target;
bool g_fault_fired = false;

bool FailChosenOperation(const Operation* operation, const std::wstring& target) {
  if (operation != g_failing_operation || target != g_failing_target)
    return false;
  g_fault_fired = true;
  return true;
}

// One step of a sequence: how to make its operation, and what the fault hook fails in it.
struct Step {
  std::string description;
  std::function<std::unique_ptr<Operation>()> make;
  std::wstring target;  // what the fault hook fails
};

std::wstring Parent(const std::wstring& name) {
  const size_t slash = name.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : name.substr(0, slash);
}

bool IsBelow(const std::wstring& name, const std::wstring& ancestor) {
  return name.size() > ancestor.size() && name.compare(0, ancestor.size(), ancestor) == 0 &&
         name[ancestor.size()] == L'\\';
}

template <typename Map>
void EraseSubtree(Map* map, const std::wstring& name) {
  for (auto it = map->begin(); it != map->end();)
    it = it->first == name || IsBelow(it->first, name) ? map->erase(it) : std::next(it);
}

// Keys and folders the model gains, parents first; a new key's SDDL depends on inheritance and is not modelled.
void EnsureKey(MachineState* state, const std::wstring& name) {
  if (state->keys.count(name))
    return;
  EnsureKey(state, Parent(name));
  state->keys[name];
}

void EnsureFolder(MachineState* state, const std::wstring& name) {
  if (name.empty() || state->entries.count(name))
    return;
  EnsureFolder(state, Parent(name));
  state->entries[name] = EntryState{true, 0, FILE_ATTRIBUTE_DIRECTORY, ""};
}

class Generator {
 public:
  Generator(const Sandbox& sandbox, MachineState model, unsigned seed)
      : sandbox_(sandbox), model_(std::move(model)), random_(seed) {}

  const MachineState& model() const { return model_; }

  Step Next() {
    for (;;) {
      Step step;
      switch (Pick(7)) {
        case 0:
          if (ChangeValue(&step))
            return step;
          break;
        case 1:
          if (DeleteKey(&step))
            return step;
          break;
        case 2:
          if (CreateKey(&step))
            return step;
          break;
        case 3:
          if (DeleteEntry(&step))
            return step;
          break;
        case 4:
          if (Transfer(&step, true))
            return step;
          break;
        case 5:
          if (Transfer(&step, false))
            return step;
          break;
        default:
          if (CreateFolder(&step))
            return step;
          break;
      }
    }
  }

 private:
  size_t Pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random_); }
  std::wstring NewName(const wchar_t* prefix) { return prefix + std::to_wstring(++counter_); }

  template <typename Map, typename Filter>
  bool PickName(const Map& map, Filter filter, std::wstring* name) {
    std::vector<std::wstring> names;
    for (const auto& entry : map) {
      if (filter(entry.first, entry.second))
        names.push_back(entry.first);
    }
    if (names.empty())
      return false;
    *name = names[Pick(names.size())];
    return true;
  }

  bool UsableKey(const std::wstring& name) const { return name != kVolatileKey && !IsBelow(name, kVolatileKey); }

  // One or two new levels below `key`. Wine creates several missing levels of a path in one call only when the
  // process may write values into every existing key on the path, which the protected key denies even after the
  // grant of subkey creation: at or below it only one level is made at a time (Windows creates both).
  std::wstring NewKeyBelow(const std::wstring& key) {
    bool one_level = false;
    for (const wchar_t* guarded : {L"CU\\P", L"LM\\P"})
      one_level = one_level || key == guarded || IsBelow(key, guarded);
    one_level = one_level && test_support::IsRunningUnderWine();
    return key + L"\\" + NewName(L"K") + (!one_level && Pick(2) ? L"\\" + NewName(L"K") : L"");
  }

  bool ChangeValue(Step* step) {
    std::wstring key;
    if (!PickName(
            model_.keys, [this](const std::wstring& n, const KeyState&) { return UsableKey(n); }, &key))
      return false;
    if (Pick(3) == 0)
      key = NewKeyBelow(key);
    const auto existing = model_.keys.find(key);
    std::wstring value_name = NewName(L"v");
    if (existing != model_.keys.end() && !existing->second.values.empty() && Pick(2)) {
      auto it = existing->second.values.begin();
      std::advance(it, Pick(existing->second.values.size()));
      value_name = it->first;
    }
    static const DWORD kTypes[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                                   REG_DWORD, REG_MULTI_SZ, REG_QWORD,     kDeleteRegValueType};
    DWORD type = kTypes[Pick(std::size(kTypes))];
    const bool value_exists = existing != model_.keys.end() && existing->second.values.count(value_name);
    if (type == kDeleteRegValueType && !value_exists)
      type = REG_SZ;
    std::string data;
    for (size_t i = Pick(40); i > 0; --i)
      data.push_back(static_cast<char>(Pick(256)));
    if (type == REG_DWORD)
      data.resize(4, '\x5a');
    if (type == REG_QWORD)
      data.resize(8, '\xa5');
    // Strings as the system keeps them: whole wide characters, terminated.
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
      data.resize(data.size() & ~size_t{1});
      data.append(type == REG_MULTI_SZ ? 4 : 2, '\0');
    }
    if (type == kDeleteRegValueType) {
      data.clear();
      model_.keys[key].values.erase(value_name);
    } else {
      EnsureKey(&model_, key);
      model_.keys[key].values[value_name] = ValueState{type, data};
    }
    const HKEY hive = sandbox_.Hive(key);
    const std::wstring path = sandbox_.KeyPath(key);
    step->description = "change value of " + Narrow(key);
    step->target = path;
    step->make = [=] {
      return std::make_unique<ChangeRegValueOperation>(hive, path, value_name, data.data(), type,
                                                       static_cast<DWORD>(data.size()));
    };
    return true;
  }

  bool DeleteKey(Step* step) {
    std::wstring key;
    if (!PickName(
            model_.keys, [this](const std::wstring& n, const KeyState&) { return n.size() > 2 && UsableKey(n); },
            &key)) {
      return false;
    }
    EraseSubtree(&model_.keys, key);
    const HKEY hive = sandbox_.Hive(key);
    const std::wstring path = sandbox_.KeyPath(key);
    step->description = "delete key " + Narrow(key);
    step->target = path;
    step->make = [=] { return std::make_unique<DeleteRegKeyOperation>(hive, path); };
    return true;
  }

  bool CreateKey(Step* step) {
    std::wstring key;
    if (!PickName(
            model_.keys, [this](const std::wstring& n, const KeyState&) { return UsableKey(n); }, &key))
      return false;
    key = NewKeyBelow(key);
    EnsureKey(&model_, key);
    const HKEY hive = sandbox_.Hive(key);
    const std::wstring path = sandbox_.KeyPath(key);
    step->description = "create key " + Narrow(key);
    step->target = path;
    step->make = [=] { return std::make_unique<CreateRegKeyOperation>(hive, path); };
    return true;
  }

  // Entries the sequence may touch: never the running program's folder or the locked file, and never a path
  // deleted before in this sequence (its temporary name would be the same within one second).
  bool Touchable(const std::wstring& name) const {
    return name != L"app" && !IsBelow(name, L"app") && name != L"lock" && !IsBelow(name, L"lock") &&
           !deleted_.count(name);
  }

  // Wine keeps a file's access list as its Unix mode: a read-only file denies writing, so deleting it (or
  // replacing it) goes through the access grant, which clears the attribute for good under wine. Windows keeps
  // the attribute apart from the list; there the generator deletes read-only files too.
  bool Deletable(const std::wstring& name, const EntryState& entry) const {
    return Touchable(name) &&
           !(test_support::IsRunningUnderWine() && !entry.directory && (entry.attributes & FILE_ATTRIBUTE_READONLY));
  }

  bool DeleteEntry(Step* step) {
    std::wstring name;
    if (!PickName(
            model_.entries, [this](const std::wstring& n, const EntryState& e) { return Deletable(n, e); }, &name)) {
      return false;
    }
    EraseSubtree(&model_.entries, name);
    deleted_.insert(name);
    const bool check_in_use = Pick(2);
    const base::FilePath path = sandbox_.Path(name);
    step->description = "delete " + Narrow(name);
    step->target = path.value();
    step->make = [=] { return std::make_unique<DeleteFileOperation>(path, check_in_use); };
    return true;
  }

  bool Transfer(Step* step, bool move) {
    std::wstring source;
    if (!PickName(
            model_.entries, [this](const std::wstring& n, const EntryState& e) { return !e.directory && Touchable(n); },
            &source)) {
      return false;
    }
    std::wstring destination;
    if (Pick(3) == 0) {
      if (!PickName(
              model_.entries,
              [&](const std::wstring& n, const EntryState& e) {
                return !e.directory && Deletable(n, e) && n != source;
              },
              &destination)) {
        return false;
      }
      deleted_.insert(destination);
    } else {
      std::wstring folder;
      PickName(
          model_.entries, [this](const std::wstring& n, const EntryState& e) { return e.directory && Touchable(n); },
          &folder);
      if (Pick(2))
        folder += (folder.empty() ? L"" : L"\\") + NewName(L"d");
      destination = (folder.empty() ? L"" : folder + L"\\") + NewName(L"f") + L".dat";
    }
    EntryState moved = model_.entries[source];
    moved.attributes &= ~FILE_ATTRIBUTE_READONLY;
    EnsureFolder(&model_, Parent(destination));
    model_.entries[destination] = moved;
    if (move)
      model_.entries.erase(source);
    else
      model_.entries[source] = moved;
    const base::FilePath from = sandbox_.Path(source);
    const base::FilePath to = sandbox_.Path(destination);
    step->description = (move ? "move " : "copy ") + Narrow(source) + " to " + Narrow(destination);
    step->target = to.value();
    step->make = [=]() -> std::unique_ptr<Operation> {
      if (move)
        return std::make_unique<MoveFileOperation>(from, to);
      return std::make_unique<CopyFileOperation>(from, to);
    };
    return true;
  }

  bool CreateFolder(Step* step) {
    std::wstring folder;
    if (!PickName(
            model_.entries, [this](const std::wstring& n, const EntryState& e) { return e.directory && Touchable(n); },
            &folder)) {
      return false;
    }
    folder += L"\\" + NewName(L"n") + (Pick(2) ? L"\\" + NewName(L"n") : L"");
    EnsureFolder(&model_, folder);
    const base::FilePath path = sandbox_.Path(folder);
    step->description = "create folder " + Narrow(folder);
    step->target = path.value();
    step->make = [=] { return std::make_unique<CreateFolderOperation>(path); };
    return true;
  }

  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

  const Sandbox& sandbox_;
  MachineState model_;
  std::mt19937 random_;
  int counter_ = 0;
  std::set<std::wstring> deleted_;
};

class TransactionTortureTest : public testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.ok());
    Populate();
    SetOperationFaultHookForTesting(&FailChosenOperation);
    // The locked file and the running program hold their files for good: their retries need not wait.
    SetHeldFileRetryPauseHookForTesting([](unsigned long) {});
  }
  void TearDown() override {
    SetOperationFaultHookForTesting(nullptr);
    SetHeldFileRetryPauseHookForTesting(nullptr);
    locked_.reset();
    if (stop_event_.valid()) {
      SetEvent(stop_event_.get());
      WaitForSingleObject(running_.get(), 10000);
    }
  }

  void WriteKey(const std::wstring& key,
                const std::wstring& name,
                DWORD type,
                const std::string& data,
                DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.Hive(key), sandbox_.KeyPath(key).c_str(), 0, nullptr, options,
                                             KEY_ALL_ACCESS, nullptr, &handle, nullptr));
    if (!name.empty() || type != REG_NONE) {
      EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                              static_cast<DWORD>(data.size())));
    }
    RegCloseKey(handle);
  }

  void WriteEntry(const std::wstring& name, const std::string& bytes, bool read_only = false) {
    const base::FilePath path = sandbox_.Path(name);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(path.value(), bytes));
    if (read_only) {
      ASSERT_TRUE(SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_READONLY));
    }
  }

  // Values of every type (and a default value) in nested keys of both hives, a protected key, a volatile key
  // that no persistent key may be created below; nested folders with small and larger files, read-only files,
  // an empty folder, a file held open without delete sharing and a running executable.
  void Populate() {
    static const std::wstring kWide = L"wide text";
    const std::string wide(reinterpret_cast<const char*>(kWide.c_str()), (kWide.size() + 1) * 2);
    for (const std::wstring hive : {L"CU", L"LM"}) {
      WriteKey(hive + L"\\A", L"", REG_SZ, wide);
      WriteKey(hive + L"\\A", L"none", REG_NONE, "");
      WriteKey(hive + L"\\A", L"none bytes", REG_NONE, "\x01\x02");
      WriteKey(hive + L"\\A", L"expand", REG_EXPAND_SZ, wide);
      WriteKey(hive + L"\\A", L"binary", REG_BINARY, std::string("\x00\xff\x10", 3));
      WriteKey(hive + L"\\A", L"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4));
      WriteKey(hive + L"\\A", L"big endian", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4));
      WriteKey(hive + L"\\A", L"multi", REG_MULTI_SZ, std::string("a\0\0\0b\0\0\0\0\0", 10));
      WriteKey(hive + L"\\A", L"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
      WriteKey(hive + L"\\A\\B\\C", L"deep", REG_SZ, wide);
      WriteKey(hive + L"\\A\\B\\C", L"second", REG_DWORD, std::string(4, '\x01'));
      WriteKey(hive + L"\\D", L"", REG_NONE, "");
      WriteKey(hive + L"\\P", L"guarded", REG_SZ, wide);
      ASSERT_TRUE(test::SetKeySddl(sandbox_.Hive(hive), sandbox_.KeyPath(hive + L"\\P"), kProtectedSddl));
    }
    WriteKey(kVolatileKey, L"", REG_NONE, "", REG_OPTION_VOLATILE);
    // Volatile too, so that it goes with the wine server: nobody but its owner, the system, can open it up.
    WriteKey(kDeniedKey, L"v", REG_SZ, std::string("x\0\0\0", 4), REG_OPTION_VOLATILE);
    ASSERT_TRUE(test::SetKeySddl(sandbox_.Hive(kDeniedKey), sandbox_.KeyPath(kDeniedKey), kDeniedSddl,
                                 OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION));

    WriteEntry(L"t\\a.txt", "alpha");
    WriteEntry(L"t\\b.bin", std::string(70000, 'b'));
    WriteEntry(L"t\\ro.txt", "read only", true);
    WriteEntry(L"t\\sub\\c.txt", "gamma");
    WriteEntry(L"t\\sub\\deep\\d.txt", "delta");
    WriteEntry(L"t\\sub\\deep\\ro2.txt", "read only too", true);
    WriteEntry(kLockedFile, "locked");
    ASSERT_TRUE(base::CreateDirectory(sandbox_.Path(L"t\\empty")));
    locked_.reset(CreateFileW(sandbox_.Path(kLockedFile).value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked_.valid());

    const base::FilePath exe = sandbox_.Path(kRunningExe);
    ASSERT_TRUE(base::CreateDirectory(exe.DirName()));
    ASSERT_TRUE(
        base::CopyFile(base::FilePath(test_support::ExecutableDir()).Append(L"transactions_test_child.exe"), exe));
    const std::wstring event_name = test_support::UniqueName(L"tx_stop");
    stop_event_.reset(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    std::wstring command = L"\"" + exe.value() + L"\" " + event_name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(exe.value().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);
    running_.reset(process.hProcess);
  }

  // Operation k's real faults, in turn: a copy onto a locked destination, a move of a missing source into a
  // new folder (created as a sub-operation, then removed again), the deletion of the running executable, a
  // value and a key below the volatile key, where no persistent key can be created, and the deletion of the
  // key that denies access.
  Step RealFault(int k) {
    Step step;
    const base::FilePath locked = sandbox_.Path(kLockedFile);
    const base::FilePath source = sandbox_.Path(L"t\\a.txt");
    const base::FilePath missing = sandbox_.Path(L"t\\missing.txt");
    const base::FilePath new_folder_file = sandbox_.Path(L"t\\fresh\\deeper\\x.txt");
    const base::FilePath exe = sandbox_.Path(kRunningExe);
    const HKEY hive = sandbox_.Hive(kVolatileKey);
    const std::wstring below_volatile = sandbox_.KeyPath(kVolatileKey) + L"\\N\\M";
    const std::wstring denied = sandbox_.KeyPath(kDeniedKey);
    // An administrator takes ownership of the denied key on Windows (wine refuses), where its deletion works.
    const int kinds = test_support::IsRunningUnderWine() ? 6 : 5;
    switch (k % kinds) {
      case 0:
        step.description = "copy onto a locked file";
        step.make = [=] { return std::make_unique<CopyFileOperation>(source, locked); };
        break;
      case 1:
        step.description = "move a missing file into a new folder";
        step.make = [=] { return std::make_unique<MoveFileOperation>(missing, new_folder_file); };
        break;
      case 2:
        step.description = "delete the running executable";
        step.make = [=, tree = sandbox_.tree()] { return std::make_unique<DeleteFileOperation>(exe, true, tree); };
        break;
      case 3:
        step.description = "write a value below the volatile key";
        step.make = [=] {
          return std::make_unique<ChangeRegValueOperation>(hive, below_volatile, L"v", "x", REG_BINARY, 1);
        };
        break;
      case 4:
        step.description = "create a key below the volatile key";
        step.make = [=] { return std::make_unique<CreateRegKeyOperation>(hive, below_volatile); };
        break;
      default:
        step.description = "delete a key that denies access";
        step.make = [=] { return std::make_unique<DeleteRegKeyOperation>(hive, denied); };
        break;
    }
    return step;
  }

  Sandbox sandbox_{L"tx_torture"};
  test_support::ScopedTestHandle locked_;
  test_support::ScopedTestHandle stop_event_;
  test_support::ScopedTestHandle running_;
};

// The sequence, printed so that a failure can be read against it.
std::vector<Step> MakeSequence(Generator* generator) {
  std::vector<Step> steps;
  for (int i = 0; i < kSequenceLength; ++i) {
    steps.push_back(generator->Next());
    std::printf("%2d %s\n", i + 1, steps.back().description.c_str());
  }
  return steps;
}

// For every k from 1 to the sequence's length: operations 1 to k - 1 are done, operation k fails (through the
// fault hook, then, when `real_fault` is given, as a real fault in its place), and the transaction is rolled
// back; the machine must then be as captured before, in-process and in reg.exe's export.
void SweepFailures(const Sandbox& sandbox,
                   unsigned seed,
                   const std::vector<Step>& steps,
                   const std::function<Step(int)>& real_fault) {
  const MachineState before = sandbox.Capture();
  const std::string export_before = sandbox.RegExport();
  ASSERT_FALSE(export_before.empty());
  for (int k = 1; k <= static_cast<int>(steps.size()); ++k) {
    for (const bool is_real : {false, true}) {
      if (is_real && !real_fault)
        continue;
      const Step failing = is_real ? real_fault(k) : steps[k - 1];
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", k " << k << (is_real ? " (real fault: " : " (hook: ")
                                      << failing.description << ")");
      OperationList transaction;
      for (int i = 0; i < k - 1; ++i)
        ASSERT_TRUE(ExecuteOperation(&transaction, steps[i].make())) << steps[i].description;
      std::unique_ptr<Operation> operation = failing.make();
      g_failing_operation = is_real ? nullptr : operation.get();
      g_failing_target = failing.target;
      g_fault_fired = false;
      EXPECT_FALSE(ExecuteOperation(&transaction, std::move(operation)));
      EXPECT_EQ(!is_real, g_fault_fired);
      g_failing_operation = nullptr;
      RollbackOperations(&transaction);
      EXPECT_EQ("", test::Compare(before, sandbox.Capture()));
      EXPECT_TRUE(export_before == sandbox.RegExport()) << "reg.exe exports another registry";
    }
    if (testing::Test::HasFailure())
      return;
  }
}

TEST_P(TransactionTortureTest, EveryFailureRollsBackToTheSnapshot) {
  const unsigned seed = GetParam() ? GetParam() : std::random_device()();
  std::printf("seed %u\n", seed);
  const MachineState before = sandbox_.Capture();
  const std::wstring& guarded = before.keys.at(L"CU\\P").sddl;
  ASSERT_EQ(kProtectedSddl, guarded.substr(std::min(guarded.find(L"D:"), guarded.size())));

  Generator generator(sandbox_, before, seed);
  const std::vector<Step> steps = MakeSequence(&generator);
  SweepFailures(sandbox_, seed, steps, [this](int k) { return RealFault(k); });
  if (HasFailure())
    return;

  OperationList transaction;
  for (const Step& step : steps)
    ASSERT_TRUE(ExecuteOperation(&transaction, step.make())) << step.description;
  DeleteOperations(&transaction);
  const MachineState after = sandbox_.Capture();
  EXPECT_EQ("", test::Compare(generator.model(), after));
  for (const auto& entry : after.entries) {
    EXPECT_EQ(std::wstring::npos, entry.first.find(L".old"))
        << "kept aside: " << std::string(entry.first.begin(), entry.first.end());
  }
}

// Three fixed seeds and one drawn anew each run (printed, so that a failure can be replayed).
INSTANTIATE_TEST_SUITE_P(Seeds, TransactionTortureTest, testing::Values(1u, 22u, 4160u, 0u));

// The tree and keys that the Linux-side setup made and recorded: a failure sweep over them must leave them
// exactly so, which testdata_check.sh verifies with find, sha256sum and wine's reg export, and, run again in a
// prefix of its own, through the registry files the wine server writes.
TEST(RecordedTreeTest, FailureSweepLeavesWhatTheSetupRecorded) {
  const std::wstring data = test_support::TestDataDir();
  std::string key_root;
  if (data.empty() || !test_support::ReadFileBytes(data + L"\\recorded_key", &key_root))
    GTEST_SKIP() << "no recorded tree: the setup script did not run";
  const Sandbox sandbox(std::wstring(key_root.begin(), key_root.end()), base::FilePath(data).Append(L"recorded_tree"));
  SetOperationFaultHookForTesting(&FailChosenOperation);
  constexpr unsigned kSeed = 7;
  Generator generator(sandbox, sandbox.Capture(), kSeed);
  const std::vector<Step> steps = MakeSequence(&generator);
  SweepFailures(sandbox, kSeed, steps, nullptr);
  SetOperationFaultHookForTesting(nullptr);
  if (!HasFailure()) {
    EXPECT_TRUE(test_support::WriteFileBytes(data + L"\\recorded_done", "swept"));
  }
}

}  // namespace
}  // namespace zorvi::installer
