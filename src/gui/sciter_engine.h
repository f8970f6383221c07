// The HTML engine's table of operations, loaded once per process from sciter.dll. Without the
// library or its "SciterAPI" entry no window can exist: a visible run asks EngineAvailable
// before it reports anything; SciterApi without an engine ends the process with -1.
#pragma once

#include "sciter/sciter_api.h"

namespace ov {
namespace gui {

// Loads the engine (once); false when it is missing or unusable.
bool EngineAvailable();
// The engine's table; never null (the process has ended otherwise).
ISciterAPI* SciterApi();

}  // namespace gui
}  // namespace ov
