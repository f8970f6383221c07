// The HTML engine's table of operations, loaded once per process from sciter.dll. Without the
// library or its "SciterAPI" entry no window can exist: the process ends at once with -1.
#pragma once

#include "sciter/sciter_api.h"

namespace ov {
namespace gui {

// The engine's table; never null (the process has ended otherwise).
ISciterAPI* SciterApi();

}  // namespace gui
}  // namespace ov
