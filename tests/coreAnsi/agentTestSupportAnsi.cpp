// The agent tests' fake hook-library link and log helpers, built for the ANSI build as well.
#include "core/agents/agentTestSupport.cpp"
