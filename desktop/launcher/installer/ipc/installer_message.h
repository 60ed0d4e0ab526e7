// The messages a backend sends to its runner: one packed buffer per InstallerObserver notification, signed
// so that stray datagrams are told apart, each small enough for one mailslot datagram.
//
//   header     unsigned 32-bit payload size
//   signature  byte string ":Installer message:"
//   type       32-bit InstallerMessageType
//   payload    per type: STARTING_NEW_MAIN_PROCESS a 32-bit flag, TOTAL_STEPS a 32-bit count, ERROR a 32-bit
//              code, a UTF-16 detail and a byte-string message; the others nothing
#ifndef DESKTOP_LAUNCHER_INSTALLER_IPC_INSTALLER_MESSAGE_H_
#define DESKTOP_LAUNCHER_INSTALLER_IPC_INSTALLER_MESSAGE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/packed_buffer.h"

namespace zorvi::installer {

class InstallerObserver;

enum InstallerMessageType : int {
  IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS = 0,
  IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS = 1,
  IPC_MESSAGE_INSTALL_FOLDER_READY = 2,
  IPC_MESSAGE_TOTAL_STEPS = 3,
  IPC_MESSAGE_STEP = 4,
  IPC_MESSAGE_ERROR = 5,
  IPC_MESSAGE_SUCCESS = 6,
};

// The largest datagram the mailslot takes, and so the largest message.
constexpr size_t kMaxInstallerMessageSize = 2048;
extern const char kInstallerMessageSignature[];  // ":Installer message:"

// The mailslot every backend generation of the installation in `install_folder` reports to:
// "zorvi_installer\" followed by the folder as it is (a name below "\\.\mailslot\").
std::wstring GetInstallerMailslotName(const base::FilePath& install_folder);

// A message holding the signature and `type`; the caller appends the payload.
std::unique_ptr<base::PackedBuffer> NewInstallerMessage(int type);

// An ERROR message. Detail and message are cut (at character boundaries) so that the whole message fits one
// datagram: an error whose texts are too long still arrives with its code.
std::unique_ptr<base::PackedBuffer> NewInstallerErrorMessage(int code, const std::wstring& detail,
                                                             const std::string& message);

// Decodes one received message and makes its call on every observer. Messages that are not installer
// messages or whose payload is short are logged and reach no observer.
void DispatchInstallerMessage(const base::PackedBuffer& message, base::ObserverList<InstallerObserver>* observers);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_IPC_INSTALLER_MESSAGE_H_
