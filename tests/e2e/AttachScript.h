#pragma once

#include <memory>

#include "FrontendClient.h"
#include "FrontendScript.h"

// A console front-end script on `client` for a test: it prints no status
// lines of its own and waits at most stepMs for each step; the client's
// events go to it. `scriptMode` as the front-end's --script.
inline std::unique_ptr<FrontendScript> AttachScript(FrontendClient& client, bool scriptMode, int stepMs) {
    FrontendScript::Options options;
    options.script = scriptMode;
    options.stepTimeoutS = stepMs / 1000.0;
    options.statusEveryS = 0.0;
    auto script = std::make_unique<FrontendScript>(client, options);
    FrontendScript* events = script.get();
    client.SetEventPrinter([events](const FrontendClient::Event& e) { events->OnEvent(e); });
    return script;
}
