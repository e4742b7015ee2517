#pragma once

namespace casalux {

// How device commands behave in the program that runs them. The desktop
// program reports each command, holds the command-in-progress mark, pauses a
// second after each sequence and tells the macro engine; the background
// engine only sends.
struct CommandPolicy {
    bool statusTexts = true;
    bool holdCommandMark = true;
    bool waitAfterCommand = true;
    bool notifyMacros = true;

    static constexpr CommandPolicy desktop() { return {}; }
    static constexpr CommandPolicy engine() { return {false, false, false, false}; }
};

} // namespace casalux
