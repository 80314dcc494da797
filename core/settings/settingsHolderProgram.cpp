// The program's holder starts with the empty agent. Kept apart from the rest of the holder so that
// code using a holder over a given agent (the tests) doesn't need the agents linked in.
#include "core/settings/settingsHolder.h"

settingsHolder::settingsHolder(logStream log) : settingsHolder(log, nullptr, nullptr, nullptr)
{
    currentAgent = getEmptyHandler(this->log, this);
}
