// Test support: readers whose messages are kept, and the key codes of a few letters.
#pragma once

#include "core/engine/keyCodes.h"

#include <string>
#include <vector>

// Collects the messages a definition reader reports, wide and narrow, as wide text in order.
template <class Reader>
class capturingReader : public Reader {
public:
    explicit capturingReader(int kind) : Reader(kind) {}
    void reportText(const std::wstring& text) override { messages.push_back(text); }
    void reportNarrowText(const std::string& text) override { messages.push_back(narrowToWide(text)); }

    std::wstring allText() const
    {
        std::wstring all;
        for (const std::wstring& m : messages) all += m;
        return all;
    }

    std::vector<std::wstring> messages;

private:
    static std::wstring narrowToWide(const std::string& text);
};

std::wstring cp932ToWide(const std::string& text);

template <class Reader>
std::wstring capturingReader<Reader>::narrowToWide(const std::string& text)
{
    return cp932ToWide(text);
}

inline keyCode key0(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 0); }
inline keyCode key1(char letter) { return keyCodeOf(static_cast<unsigned char>(letter), 1); }

// A key sequence of alphabet-0 letters.
keySequence keysOf(const char* letters);
