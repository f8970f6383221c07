// The page-facing DOM, events, timers, console and `view`, written in script over the
// engine's native functions (the N object). It is compiled once per page.
#pragma once

namespace sciter_engine {

extern const char kScriptBootstrap[];
extern const unsigned kScriptBootstrapLength;

}  // namespace sciter_engine
