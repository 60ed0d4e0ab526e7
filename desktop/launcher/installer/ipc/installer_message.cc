#include "desktop/launcher/installer/ipc/installer_message.h"

#include <cstdint>

#include "base/logging.h"
#include "desktop/launcher/installer/records/installer_observer.h"

namespace zorvi::installer {

const char kInstallerMessageSignature[] = ":Installer message:";

namespace {

constexpr wchar_t kMailslotNamePrefix[] = L"zorvi_installer\\";

size_t PaddedSize(size_t bytes) {
  return (bytes + 3) & ~size_t{3};
}

// The longest prefix of at most `units` UTF-16 units that does not end inside a surrogate pair.
std::wstring CutUtf16(const std::wstring& text, size_t units) {
  if (text.size() <= units)
    return text;
  if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
    --units;
  return text.substr(0, units);
}

// The longest prefix of at most `bytes` bytes that does not end inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes)
    return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
    --bytes;
  return text.substr(0, bytes);
}

}  // namespace

std::wstring GetInstallerMailslotName(const base::FilePath& install_folder) {
  return kMailslotNamePrefix + install_folder.value();
}

std::unique_ptr<base::PackedBuffer> NewInstallerMessage(int type) {
  auto message = std::make_unique<base::PackedBuffer>();
  message->WriteString(kInstallerMessageSignature);
  message->WriteInt(type);
  return message;
}

std::unique_ptr<base::PackedBuffer> NewInstallerErrorMessage(int code, const std::wstring& detail,
                                                             const std::string& message) {
  std::unique_ptr<base::PackedBuffer> result = NewInstallerMessage(IPC_MESSAGE_ERROR);
  result->WriteInt(code);
  // Room for the two texts' bytes: what is left after the code and the two length fields.
  const size_t room = kMaxInstallerMessageSize - result->size() - 2 * sizeof(int32_t);
  const size_t detail_bytes = PaddedSize(detail.size() * sizeof(wchar_t));
  const size_t message_bytes = PaddedSize(message.size());
  if (detail_bytes + message_bytes <= room) {
    result->WriteString16(detail);
    result->WriteString(message);
    return result;
  }
  // Each text keeps at least half the room; what one does not need goes to the other.
  const size_t half = room / 2 & ~size_t{3};
  size_t detail_room = half;
  if (detail_bytes <= half)
    detail_room = detail_bytes;
  else if (message_bytes <= half)
    detail_room = room - message_bytes;
  const std::wstring cut_detail = CutUtf16(detail, detail_room / sizeof(wchar_t));
  const std::string cut_message = CutUtf8(message, room - PaddedSize(cut_detail.size() * sizeof(wchar_t)));
  LOG(WARNING) << "Error message " << code << " cut to fit one datagram";
  result->WriteString16(cut_detail);
  result->WriteString(cut_message);
  return result;
}

void DispatchInstallerMessage(const base::PackedBuffer& message, base::ObserverList<InstallerObserver>* observers) {
  base::PackedBufferReader reader(message);
  std::string signature;
  if (!reader.ReadString(&signature) || signature != kInstallerMessageSignature) {
    LOG(WARNING) << "Received a message without installer signature";
    return;
  }
  int32_t type = 0;
  if (!reader.ReadInt(&type))
    return;
  auto notify = [observers](auto&& call) {
    if (observers->might_have_observers())
      observers->ForEach(call);
  };
  switch (type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS: {
      // The flag travels as a whole 32-bit integer: a datagram cut inside it is not a message.
      int32_t value = 0;
      if (!reader.ReadInt(&value)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS message";
        return;
      }
      const bool flag = value != 0;
      VLOG(1) << "IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << flag << ") received";
      notify([flag](InstallerObserver* observer) { observer->OnStartingNewMainProcess(flag); });
      return;
    }
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      VLOG(1) << "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS received";
      notify([](InstallerObserver* observer) { observer->OnReturnedToPreviousMainProcess(); });
      return;
    case IPC_MESSAGE_INSTALL_FOLDER_READY:
      notify([](InstallerObserver* observer) { observer->OnInstallFolderReady(); });
      return;
    case IPC_MESSAGE_TOTAL_STEPS: {
      int32_t steps = 0;
      if (!reader.ReadInt(&steps)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_TOTAL_STEPS message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_TOTAL_STEPS(" << steps << ") received";
      notify([steps](InstallerObserver* observer) { observer->OnTotalSteps(steps); });
      return;
    }
    case IPC_MESSAGE_STEP:
      VLOG(1) << "IPC_MESSAGE_STEP received";
      notify([](InstallerObserver* observer) { observer->OnStep(); });
      return;
    case IPC_MESSAGE_ERROR: {
      int32_t code = 0;
      std::wstring detail;
      std::string text;
      if (!reader.ReadInt(&code) || !reader.ReadString16(&detail) || !reader.ReadString(&text)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_ERROR message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_ERROR(" << code << "," << detail << "," << text << ") received";
      notify([&](InstallerObserver* observer) { observer->OnInstallerError(code, detail, text); });
      return;
    }
    case IPC_MESSAGE_SUCCESS:
      VLOG(1) << "IPC_MESSAGE_SUCCESS received";
      notify([](InstallerObserver* observer) { observer->OnInstallerSuccess(); });
      return;
    default:
      LOG(WARNING) << "Received installer message with invalid type";
      return;
  }
}

}  // namespace zorvi::installer
