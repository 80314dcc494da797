// The machine-wide key remapping of the registry value "Scancode Map", offered in both
// directions on the program's key codes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class scancodeMap {
public:
    typedef std::map<std::uint16_t, std::uint16_t> codeMap;

    scancodeMap() = default;
    scancodeMap(codeMap forwardMap, codeMap reverseMap);

    // The code a physical key becomes; the code itself when it is not remapped.
    std::uint16_t forward(std::uint16_t code) const;
    // The physical key that produces a code; the code itself when none is remapped to it.
    std::uint16_t reverse(std::uint16_t code) const;

    const codeMap& forwardMap() const { return m_forward; }
    const codeMap& reverseMap() const { return m_reverse; }
    bool empty() const { return m_forward.empty() && m_reverse.empty(); }

private:
    codeMap m_forward;
    codeMap m_reverse;
};

// Builds the maps from the registry value's bytes (little-endian: version 0, flags 0, entry
// count, then per entry the mapped scan code in the low and the physical one in the high 16 bits).
// A value that is too short, not whole words, has a non-zero header word or fewer entries than its
// count gives empty maps. Touches nothing but its arguments.
scancodeMap parseScancodeMap(const unsigned char* bytes, std::size_t size);
scancodeMap parseScancodeMap(const std::vector<unsigned char>& bytes);

// A 16-bit scan code (make code in the low byte, prefix 0/E0/E1 in the high byte) as a key code:
// the make code, plus 0x80 when there is a prefix.
std::uint16_t keyCodeOfScancode(std::uint16_t scancode);

// The bytes of a registry value of any type, or empty when the key or value can't be read.
std::vector<unsigned char> readRegistryBinary(HKEY root, const std::wstring& subkey, const std::wstring& valueName);

// Reads "Scancode Map" under HKLM "SYSTEM\CurrentControlSet\Control\Keyboard Layout" now.
// The ANSI build has no machine-wide map: always empty there.
scancodeMap readSystemScancodeMap();

// The system map of this process, read on first use; later registry changes take effect at the
// next start.
const scancodeMap& systemScancodeMap();
