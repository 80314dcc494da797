#include "core/agents/agents.h"

#include "core/agents/classicLocal.h"
#include "core/link/dllLink.h"
#include "core/agents/driverLocal.h"
#include "core/platform/errors.h"
#include "core/agents/llhookLocal.h"
#include "core/settings/settingsHolder.h"

namespace {

int g_lastAppliedType = -1;

dllLinkInterface* agentLink(settingsHolder* holder) {
    return holder ? &holder->link() : &getDllLink();
}

int showBox(const std::wstring& text, const wchar_t* caption, UINT type) {
    inputHandlerFactory& factory = agentFactory();
    if (factory.messageBox) return factory.messageBox(nullptr, text.c_str(), caption, type);
    return MessageBoxW(nullptr, text.c_str(), caption, type);
}

// One process-wide agent, built on first request. The agent is pointed at the holder that asks,
// so an agent never keeps reading the settings of a holder that has gone.
template <class Agent>
agentPointer singleAgent(agentPointer& slot, inputHandler::logStream log, settingsHolder* holder) {
    if (!slot) {
        slot = agentPointer(new Agent(agentLink(holder), std::move(log), holder));
    } else if (holder) {
        slot->setHolder(holder);
    }
    return slot;
}

agentPointer buildFromFactory(inputHandlerFactory::builder build, const wchar_t* what,
                              inputHandler::logStream log, settingsHolder* holder) {
    if (!build) {
        ErrorMessage error;
        error << what << L"はこの版には組み込まれていません。";
        throw error;
    }
    return agentPointer(build(agentLink(holder), std::move(log), holder));
}

}  // namespace

inputHandlerFactory& agentFactory() {
    static inputHandlerFactory factory = {&buildDriverLocal, &buildClassicLocal, nullptr};
    return factory;
}

int lastAppliedAgentType() { return g_lastAppliedType; }

// ---------------------------------------------------------------- the empty agent

emptyHandler::emptyHandler(dllLinkInterface* link, logStream log, settingsHolder* holder)
    : inputHandler(link, std::move(log), holder) {}
bool emptyHandler::pause() { return true; }
std::wstring emptyHandler::displayName() { return L"(入力代行部が未接続です)"; }
bool emptyHandler::setFlag(unsigned char) { return false; }
std::wstring emptyHandler::id() { return L"none"; }
bool emptyHandler::outputKey(const keyOutputEvent&) { return true; }
bool emptyHandler::resume() { return true; }

// ---------------------------------------------------------------- accessors

agentPointer getEmptyHandler(inputHandler::logStream log, settingsHolder* holder) {
    // The empty agent never converts a key, so it needs no link; holders build it while they
    // are being constructed, before their link may be asked for.
    static agentPointer agent;
    if (!agent) agent = agentPointer(new emptyHandler(nullptr, std::move(log), holder));
    else if (holder) agent->setHolder(holder);
    return agent;
}

agentPointer getDriverLocal(inputHandler::logStream log, settingsHolder* holder) {
    static agentPointer agent;
    if (!agent) agent = buildFromFactory(agentFactory().driver, L"Vexa用入力代行", log, holder);
    else if (holder) agent->setHolder(holder);
    return agent;
}

agentPointer getLlhookLocal(inputHandler::logStream log, settingsHolder* holder) {
#ifdef TVN_ANSI
    ErrorMessage error;
    error << L"Windows2000/XP専用入力代行はこの版では使えません。";
    throw error;
#else
    static sectionLock* buildLock = new sectionLock;
    static agentPointer agent;
    scopedLock guard(*buildLock);
    return singleAgent<llhook_local>(agent, std::move(log), holder);
#endif
}

agentPointer getClassicLocal(inputHandler::logStream log, settingsHolder* holder) {
    return buildFromFactory(agentFactory().classic, L"版1.0/1.1号互換入力代行", std::move(log),
                            holder);
}

// ---------------------------------------------------------------- switching

// Builds an agent through its accessor into `next`; a failure is logged and answers false.
static bool tryBuildAgent(agentPointer (*accessor)(inputHandler::logStream, settingsHolder*),
                          settingsHolder& holder, agentPointer& next) {
    try {
        next = accessor(holder.log, &holder);
        return true;
    } catch (ErrorMessage& e) {
        writeLogLine(*holder.log, 0, e.text());
        return false;
    }
}

// Builds the agent that a DriverType value chooses into `next` and answers the type to remember
// (0 classic, 1 driver, 2 hook). A driver that can't be opened shows the box and falls back: to
// the hook agent, or in the ANSI build, which has no hook agent, to the classic agent, which any
// value but 1 chooses there. When no agent can be built, `next` stays empty and the answer is -1;
// the failure is logged and never thrown, so the settings being loaded stay in force.
static int buildChosenAgent(settingsHolder& holder, int type, agentPointer& next) {
    if (type == 1) {
        try {
            next = getDriverLocal(holder.log, &holder);
            return 1;
        } catch (ErrorMessage& e) {
            showBox(e.text() +
                        L"\n\n『Vexa』が設置済みであることを検出できませんでした(あるいは『しませんでした』)。",
                    L"Orvessa/Tavolin", MB_ICONERROR);
        }
    }
#ifdef TVN_ANSI
    return tryBuildAgent(getClassicLocal, holder, next) ? 0 : -1;
#else
    // No classic agent in this build: keep the keyboard working through the hook.
    if (type != 1 && type != 2 && tryBuildAgent(getClassicLocal, holder, next)) return 0;
    return tryBuildAgent(getLlhookLocal, holder, next) ? 2 : -1;
#endif
}

bool settingsHolder::changeInputHandler(settingsHolder& previous) {
    int type = getInt("DriverType");
    if (type == g_lastAppliedType && currentAgent) {
        currentAgent->resumeSafely();
        return false;
    }
    // The agent that stops being the live one stops completely, whoever else still refers to it
    // (the settings sheet's snapshot does): its keys released, its queued keys passed on, its
    // threads ended and its hooks released. Half-alive, it could hold keys down or take keys
    // from the next agent.
    agentPointer old = currentAgent;
    if (old) old->stop();
    currentAgent = getEmptyHandler(log, this);

    agentPointer next;
    int applied = buildChosenAgent(*this, type, next);
    if (!next) {
        // No agent could be built: the keyboard stays unconverted, but the settings and tables
        // just loaded stay in force, and the next switch tries again.
        next = currentAgent;
        applied = -1;
    }

    if (previous.currentAgent != next && previous.currentAgent) previous.currentAgent->stop();
    currentAgent = next;
    g_lastAppliedType = applied;
    currentAgent->setFlag(1);
    currentAgent->resumeSafely();
    writeLogLine(*log, 0, L"入力代行部の変更 : " + currentAgent->displayName());
    return old != currentAgent;
}

void settingsHolder::stopInputHandler() {
    if (!currentAgent) return;
    currentAgent->stop();
    currentAgent = getEmptyHandler(log, this);
    // The next switch builds the chosen agent again instead of resuming the empty one.
    g_lastAppliedType = -1;
}
