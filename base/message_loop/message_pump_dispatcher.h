// Lets the owner of a UI run see each Windows message before the pump handles it (the installer's dialogs
// use it for keyboard navigation).
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

namespace base {

class MessagePumpDispatcher {
 public:
  // Bits of Dispatch's result.
  enum PostDispatchAction : uint32_t {
    kDispatchNone = 0,
    kDispatchQuitLoop = 1,        // end the run that dispatched the message
    kDispatchPerformDefault = 2,  // translate and dispatch the message as usual
  };

  virtual ~MessagePumpDispatcher() = default;

  // Gets every message the run takes from the thread's queue (except the pump's own wake-ups).
  virtual uint32_t Dispatch(const MSG& msg) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
