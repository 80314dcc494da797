#include "core/platform/scancodeMap.h"

#include <utility>

#include "core/platform/tstring.h"

namespace {

#ifndef TVN_ANSI
const wchar_t keyboardLayoutKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layout";
const wchar_t scancodeMapValue[] = L"Scancode Map";
#endif

std::uint32_t readLittleEndian32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool isPlainOrE0(unsigned prefix)
{
    return prefix == 0 || prefix == 0xE0;
}

}  // namespace

scancodeMap::scancodeMap(codeMap forwardMap, codeMap reverseMap)
    : m_forward(std::move(forwardMap)), m_reverse(std::move(reverseMap))
{
}

std::uint16_t scancodeMap::forward(std::uint16_t code) const
{
    const codeMap::const_iterator found = m_forward.find(code);
    return found == m_forward.end() ? code : found->second;
}

std::uint16_t scancodeMap::reverse(std::uint16_t code) const
{
    const codeMap::const_iterator found = m_reverse.find(code);
    return found == m_reverse.end() ? code : found->second;
}

std::uint16_t keyCodeOfScancode(std::uint16_t scancode)
{
    const std::uint16_t make = scancode & 0xFF;
    return (scancode >> 8) != 0 ? static_cast<std::uint16_t>(make + 0x80) : make;
}

scancodeMap parseScancodeMap(const unsigned char* bytes, std::size_t size)
{
    if (bytes == nullptr || size < 12 || size % 4 != 0) return scancodeMap();
    if (readLittleEndian32(bytes) != 0 || readLittleEndian32(bytes + 4) != 0) return scancodeMap();
    const std::uint32_t count = readLittleEndian32(bytes + 8);
    // Compared by division: 12 + 4 * count would wrap for a huge count.
    if (count > (size - 12) / 4) return scancodeMap();

    scancodeMap::codeMap forwardMap, reverseMap;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = readLittleEndian32(bytes + 12 + 4 * static_cast<std::size_t>(i));
        const std::uint16_t mapped = static_cast<std::uint16_t>(entry & 0xFFFF);
        const std::uint16_t physical = static_cast<std::uint16_t>(entry >> 16);
        if (!isPlainOrE0(mapped >> 8) && !isPlainOrE0(physical >> 8)) continue;
        forwardMap[keyCodeOfScancode(physical)] = keyCodeOfScancode(mapped);
        reverseMap[keyCodeOfScancode(mapped)] = keyCodeOfScancode(physical);
    }
    return scancodeMap(std::move(forwardMap), std::move(reverseMap));
}

scancodeMap parseScancodeMap(const std::vector<unsigned char>& bytes)
{
    return parseScancodeMap(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

std::vector<unsigned char> readRegistryBinary(HKEY root, const std::wstring& subkey, const std::wstring& valueName)
{
    std::vector<unsigned char> result;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, toT(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return result;
    const tstring name = toT(valueName);
    DWORD size = 0;
    if (RegQueryValueEx(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::vector<unsigned char> buffer(size);
        DWORD got = size;
        // The value may have grown between the two calls; then it is simply not read this time.
        if (RegQueryValueEx(key, name.c_str(), nullptr, nullptr, buffer.data(), &got) == ERROR_SUCCESS &&
            got > 0 && got <= size) {
            buffer.resize(got);
            result.swap(buffer);
        }
    }
    RegCloseKey(key);
    return result;
}

scancodeMap readSystemScancodeMap()
{
#ifdef TVN_ANSI
    return scancodeMap();
#else
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyboardLayoutKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return scancodeMap();
    RegCloseKey(key);
    return parseScancodeMap(readRegistryBinary(HKEY_LOCAL_MACHINE, keyboardLayoutKey, scancodeMapValue));
#endif
}

const scancodeMap& systemScancodeMap()
{
    static const scancodeMap map = readSystemScancodeMap();
    return map;
}
