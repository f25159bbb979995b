#pragma once
// Event types of the network components. An event is a bound callback that
// may be unset; an unset event is skipped. Components test an event before
// raising it.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Component.h"

namespace pelicore {

// Asked once per operation; the component sets Handled to false before the
// call, and a handler that sets it to true lets the operation try once more.
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg)>;

}  // namespace pelicore
