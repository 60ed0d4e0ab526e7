// Installer messages as they leave a backend: the sender proxy writes each notification as one datagram into a
// plain mailslot read by the test, and testdata_check.sh decodes those datagrams with Python's struct. Damaged
// datagrams of every kind are logged and reach no observer.
#include "desktop/launcher/installer/ipc/installer_message.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/logging.h"
#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"
#include "desktop/launcher/installer/ipc/ipc_test_util.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::InstallerObserverRecorder;
using test_support::JsonQuote;
using test_support::WideToUtf8ForTest;

std::vector<std::string> Dispatch(const std::vector<std::string>& datagrams) {
  InstallerObserverRecorder recorder;
  base::ObserverList<InstallerObserver> observers;
  observers.AddObserver(&recorder);
  for (const std::string& datagram : datagrams)
    DispatchInstallerMessage(base::PackedBuffer(datagram.data(), static_cast<int>(datagram.size())), &observers);
  return recorder.lines();
}

// One notification as the backend sends it, what the runner's observer must hear of it, and what the Python
// oracle must decode from its datagram (one JSON object; "max_size" marks a message cut to fit).
struct Notification {
  std::unique_ptr<base::PackedBuffer> message;
  std::string observer_line;
  std::string oracle;
};

Notification Simple(InstallerMessageType type, const char* call) {
  return {NewInstallerMessage(type), InstallerObserverRecorder::SimpleLine(call),
          "{\"type\":" + std::to_string(type) + "}"};
}

Notification WithInt(InstallerMessageType type, int value) {
  Notification notification{NewInstallerMessage(type), "", ""};
  notification.message->WriteInt(value);
  if (type == IPC_MESSAGE_TOTAL_STEPS) {
    notification.observer_line = InstallerObserverRecorder::TotalStepsLine(value);
    notification.oracle = "{\"type\":3,\"steps\":" + std::to_string(value) + "}";
  } else {
    notification.observer_line = InstallerObserverRecorder::StartingNewMainProcessLine(value != 0);
    notification.oracle = "{\"type\":0,\"flag\":" + std::to_string(value) + "}";
  }
  return notification;
}

Notification Error(int code, const std::wstring& detail, const std::string& text) {
  return {NewInstallerErrorMessage(code, detail, text), InstallerObserverRecorder::ErrorLine(code, detail, text),
          "{\"type\":5,\"code\":" + std::to_string(code) + ",\"detail\":" + JsonQuote(WideToUtf8ForTest(detail)) +
              ",\"message\":" + JsonQuote(text) + "}"};
}

TEST(InstallerMessageTest, EachNotificationIsOneDatagramOfTheAgreedLayout) {
  test_support::ScopedLogCapture log;
  const std::wstring name = test_support::UniqueName(L"zorvi_installer_test\\C:\\Messages");
  RawMailslot mailslot(name);
  ASSERT_TRUE(mailslot.valid());

  std::wstring long_detail;
  std::string long_text;
  for (int i = 0; i < 1500; ++i) {
    long_detail += L"\U0001F600";  // a surrogate pair each: the cut must not split one
    long_text += "\xC3\xA9";       // two UTF-8 bytes each
  }
  std::vector<Notification> notifications;
  notifications.push_back(WithInt(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS, 1));
  notifications.push_back(WithInt(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS, 0));
  notifications.push_back(Simple(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS, "OnReturnedToPreviousMainProcess"));
  notifications.push_back(Simple(IPC_MESSAGE_INSTALL_FOLDER_READY, "OnInstallFolderReady"));
  notifications.push_back(WithInt(IPC_MESSAGE_TOTAL_STEPS, 17));
  notifications.push_back(WithInt(IPC_MESSAGE_TOTAL_STEPS, -2));
  notifications.push_back(Simple(IPC_MESSAGE_STEP, "OnStep"));
  notifications.push_back(Error(kInstallerErrorCopy, L"C:\\Program Files\\Z\u00f6rvi \U0001F600", "copy failed"));
  notifications.push_back(Error(kInstallerErrorGeneric, L"", ""));
  // Larger than a datagram: dropped, and it holds up nothing behind it.
  Notification oversized = WithInt(IPC_MESSAGE_TOTAL_STEPS, 99);
  oversized.message->WriteString(std::string(kMaxInstallerMessageSize, 'x'));
  oversized.observer_line.clear();
  notifications.push_back(std::move(oversized));
  // Cut to fit: its code arrives.
  notifications.push_back(Error(kInstallerErrorNoWriteAccess, long_detail, long_text));
  notifications.back().oracle = "{\"type\":5,\"code\":37055,\"detail_prefix_of\":" +
                                JsonQuote(WideToUtf8ForTest(long_detail)) + ",\"message_prefix_of\":" +
                                JsonQuote(long_text) + ",\"max_size\":" + std::to_string(kMaxInstallerMessageSize) + "}";
  notifications.push_back(Simple(IPC_MESSAGE_SUCCESS, "OnInstallerSuccess"));

  {
    IPCSenderProxy sender;
    ASSERT_TRUE(sender.Connect(name));
    // Sent at once: the mailslot is opened on the IPC thread before any of these is written.
    for (Notification& notification : notifications)
      sender.Send(std::move(notification.message));
    sender.Close();
  }
  const std::vector<std::string> datagrams = mailslot.ReadWaiting();
  EXPECT_TRUE(log.HasLineStartingWith("Dropping a message of 2", logging::LOG_ERROR)) << log.Text();
  EXPECT_TRUE(log.HasLineStartingWith("Messages unsent: 0")) << log.Text();

  std::vector<std::string> expected_lines;
  std::string manifest;
  for (const Notification& notification : notifications) {
    if (notification.observer_line.empty())
      continue;
    expected_lines.push_back(notification.observer_line);
    manifest += notification.oracle + "\n";
  }
  ASSERT_EQ(expected_lines.size(), datagrams.size());
  std::vector<std::string> lines = Dispatch(datagrams);
  ASSERT_EQ(expected_lines.size(), lines.size());
  // The cut error is checked by the oracle (prefixes, whole characters, size); here only that it came through.
  const size_t cut = expected_lines.size() - 2;
  EXPECT_EQ(0u, lines[cut].find("{\"call\":\"OnInstallerError\",\"code\":37055,")) << lines[cut];
  lines[cut] = expected_lines[cut];
  EXPECT_EQ(expected_lines, lines);

  const std::wstring folder = test_support::TestDataDir() + L"\\datagrams";
  ASSERT_TRUE(test_support::RemoveTree(folder));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  for (size_t i = 0; i < datagrams.size(); ++i) {
    wchar_t file[16];
    swprintf(file, 16, L"\\%02zu.bin", i);
    ASSERT_TRUE(test_support::WriteFileBytes(folder + file, datagrams[i]));
  }
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.jsonl", manifest));
}

// How a valid message is damaged, and the log line that must then appear instead of any observer call.
enum class Damage { kCutShort, kSignatureByte, kHeaderTooLarge, kUnknownType, kPayloadMissing, kFlagCut, kTypeMissing,
                    kNoise };

struct DamageRow {
  Damage damage;
  const char* log_line;  // null: dropped without a line
};

TEST(InstallerMessageTest, DamagedDatagramsReachNoObserver) {
  const DamageRow rows[] = {
      {Damage::kCutShort, "Received a message without installer signature"},
      {Damage::kSignatureByte, "Received a message without installer signature"},
      {Damage::kHeaderTooLarge, "Received a message without installer signature"},
      {Damage::kUnknownType, "Received installer message with invalid type"},
      {Damage::kPayloadMissing, "Received invalid IPC_MESSAGE_"},
      {Damage::kFlagCut, "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS message"},
      {Damage::kTypeMissing, nullptr},
      {Damage::kNoise, "Received a message without installer signature"},
  };
  constexpr int kPerRow = 100000 / 8 + 1;
  const uint32_t seed = std::random_device()();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));

  std::vector<std::string> valid;
  for (int type = 0; type <= 6; ++type) {
    std::unique_ptr<base::PackedBuffer> message =
        type == IPC_MESSAGE_ERROR ? NewInstallerErrorMessage(37054, L"C:\\x", "cannot create") : NewInstallerMessage(type);
    if (type == IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS || type == IPC_MESSAGE_TOTAL_STEPS)
      message->WriteInt(1);
    valid.push_back(BytesOf(*message));
  }
  auto pick = [&random](size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); };

  for (const DamageRow& row : rows) {
    std::vector<std::string> damaged;
    for (int i = 0; i < kPerRow; ++i) {
      std::string bytes = valid[pick(valid.size())];
      switch (row.damage) {
        case Damage::kCutShort:
          bytes.resize(bytes.size() - 1 - pick(bytes.size() - 1));
          break;
        case Damage::kSignatureByte:  // its length field or one of its 19 characters
          bytes[4 + pick(23)] ^= static_cast<char>(1 + pick(255));
          break;
        case Damage::kHeaderTooLarge:
          *reinterpret_cast<uint32_t*>(bytes.data()) += 4 * static_cast<uint32_t>(1 + pick(600));
          break;
        case Damage::kUnknownType: {
          int32_t type = 0;
          do {
            type = static_cast<int32_t>(random());
          } while (type >= 0 && type <= 6);
          *reinterpret_cast<int32_t*>(&bytes[28]) = i % 2 ? type : 7;
          break;
        }
        case Damage::kPayloadMissing: {
          // A message of a type with a payload, ended at a random field boundary before the payload's end.
          const int32_t types[] = {IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS, IPC_MESSAGE_TOTAL_STEPS, IPC_MESSAGE_ERROR};
          bytes = valid[types[pick(3)]];
          const size_t payload_words = (bytes.size() - 32) / 4;
          bytes.resize(32 + 4 * pick(std::min<size_t>(payload_words, 3)));
          *reinterpret_cast<uint32_t*>(bytes.data()) = static_cast<uint32_t>(bytes.size() - 4);
          break;
        }
        case Damage::kFlagCut:
          // The 32-bit flag cut to its first 1 to 3 bytes.
          bytes = valid[IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS];
          bytes.resize(32 + 1 + pick(3));
          *reinterpret_cast<uint32_t*>(bytes.data()) = static_cast<uint32_t>(bytes.size() - 4);
          break;
        case Damage::kTypeMissing:
          bytes.resize(28);
          *reinterpret_cast<uint32_t*>(bytes.data()) = 24;
          break;
        case Damage::kNoise:
          bytes.resize(pick(kMaxInstallerMessageSize + 1));
          for (char& c : bytes)
            c = static_cast<char>(random());
          break;
      }
      damaged.push_back(std::move(bytes));
    }
    test_support::ScopedLogCapture log;
    EXPECT_EQ(std::vector<std::string>(), Dispatch(damaged));
    int logged = 0;
    for (const test_support::ScopedLogCapture::Line& line : log.lines())
      logged += row.log_line && line.text.rfind(row.log_line, 0) == 0;
    EXPECT_EQ(row.log_line ? kPerRow : 0, logged) << "damage " << static_cast<int>(row.damage);
  }
}

}  // namespace
}  // namespace zorvi::installer
