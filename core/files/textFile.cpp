#include "core/files/textFile.h"

#include <windows.h>

#include <exception>
#include <vector>

const wchar_t unsupportedCharText[] = L"<unsupported_char>";

namespace {

const UINT cp932 = 932;

class fileHandle {
public:
    explicit fileHandle(HANDLE h) : m_handle(h) {}
    ~fileHandle() { close(); }
    fileHandle(const fileHandle&) = delete;
    fileHandle& operator=(const fileHandle&) = delete;
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }
    bool close()
    {
        if (!valid()) return true;
        BOOL ok = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE m_handle;
};

unsigned char byteAt(const std::string& bytes, size_t i)
{
    return static_cast<unsigned char>(bytes[i]);
}

bool startsWith(const std::string& bytes, const char* mark, size_t length)
{
    return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

void appendCodePoint(std::wstring& out, unsigned long cp)
{
    if (cp < 0x10000) {
        out += static_cast<wchar_t>(cp);
    } else {
        out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    }
}

std::wstring decodeUtf32(const std::string& bytes, bool bigEndian)
{
    std::wstring out;
    for (size_t i = 4; i + 4 <= bytes.size(); i += 4) {
        unsigned long b[4];
        for (int k = 0; k < 4; ++k) b[k] = byteAt(bytes, i + (bigEndian ? k : 3 - k));
        // b[0] is the highest byte.
        if (b[0] != 0 || b[1] > 0x10) {
            out += unsupportedCharText;
            continue;
        }
        appendCodePoint(out, (b[1] << 16) | (b[2] << 8) | b[3]);
    }
    return out;
}

std::wstring decodeUtf16(const std::string& bytes, bool bigEndian)
{
    std::wstring out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 2 <= bytes.size(); i += 2) {
        unsigned hi = byteAt(bytes, bigEndian ? i : i + 1);
        unsigned lo = byteAt(bytes, bigEndian ? i + 1 : i);
        out += static_cast<wchar_t>((hi << 8) | lo);
    }
    return out;
}

// Lenient on purpose: continuation bytes are not checked and over-long forms are taken by
// their payload bits; only what can't become UTF-16 at all is replaced.
std::wstring decodeUtf8(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 3;
    while (i < n) {
        unsigned long b0 = byteAt(bytes, i);
        size_t left = n - i;
        if (b0 < 0x80) {
            out += static_cast<wchar_t>(b0);
            i += 1;
        } else if ((b0 & 0xE0) == 0xC0 && left >= 2) {
            out += static_cast<wchar_t>(((b0 & 0x1F) << 6) | (byteAt(bytes, i + 1) & 0x3F));
            i += 2;
        } else if ((b0 & 0xF0) == 0xE0 && left >= 3) {
            out += static_cast<wchar_t>(((b0 & 0x0F) << 12) | ((byteAt(bytes, i + 1) & 0x3FUL) << 6) |
                                        (byteAt(bytes, i + 2) & 0x3F));
            i += 3;
        } else if ((b0 & 0xF8) == 0xF0 && left >= 4) {
            unsigned long cp = ((b0 & 7) << 18) | ((byteAt(bytes, i + 1) & 0x3FUL) << 12) |
                               ((byteAt(bytes, i + 2) & 0x3FUL) << 6) | (byteAt(bytes, i + 3) & 0x3F);
            // Beyond U+10FFFF (any lead F5..F7, and F4 with too large a payload) has no
            // UTF-16 form; surrogates computed from it would be garbage.
            if (cp > 0x10FFFF)
                out += unsupportedCharText;
            else
                appendCodePoint(out, cp);
            i += 4;
        } else {
            out += unsupportedCharText;
            i += 1;
        }
    }
    return out;
}

std::wstring decodeCp932(const std::string& bytes)
{
    if (bytes.empty()) return std::wstring();
    const int inLength = static_cast<int>(bytes.size());
    int length = MultiByteToWideChar(cp932, 0, bytes.data(), inLength, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(length), L'\0');
    int done = MultiByteToWideChar(cp932, 0, bytes.data(), inLength, &out[0], length);
    if (done <= 0) return std::wstring();
    out.resize(static_cast<size_t>(done));
    return out;
}

std::wstring withCrLf(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t ch = text[i];
        if (ch == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += ch;
    }
    return out;
}

// CP932 bytes of the text, only when the reader gives back exactly the same text from them.
// Best-fit mappings (U+00A5 to 0x5C, for one) do not raise the default-character flag, so the
// round trip is the real test of "nothing lost"; it goes through the whole reader because
// CP932 bytes may also begin like a byte-order mark (U+F8F3 U+F8F2 is FF FE on Windows).
bool losslessCp932(const std::wstring& text, std::string& bytes)
{
    const int inLength = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(cp932, WC_NO_BEST_FIT_CHARS, text.data(), inLength, nullptr, 0,
                                     nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return false;
    std::string out(static_cast<size_t>(length), '\0');
    int done = WideCharToMultiByte(cp932, WC_NO_BEST_FIT_CHARS, text.data(), inLength, &out[0],
                                   length, nullptr, &usedDefault);
    if (done != length || usedDefault) return false;
    if (decodeFileText(out) != text) return false;
    bytes.swap(out);
    return true;
}

// UTF-8 of the text. False for an unpaired surrogate, which UTF-8 can't hold; the system's
// conversion would silently put U+FFFD there.
bool toUtf8(const std::wstring& text, std::string& bytes)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned short>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= text.size()) return false;
            unsigned long low = static_cast<unsigned short>(text[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bytes.swap(out);
    return true;
}

std::string toUtf16(const std::wstring& text, bool bigEndian)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (wchar_t ch : text) {
        unsigned v = static_cast<unsigned short>(ch);
        out += static_cast<char>(bigEndian ? v >> 8 : v & 0xFF);
        out += static_cast<char>(bigEndian ? v & 0xFF : v >> 8);
    }
    return out;
}

// The text as UTF-16 with a mark: little-endian, except for a text that begins with U+0000.
// FF FE followed by 00 00 is the UTF-32 little-endian mark, so such a file would read back as
// something else entirely; big-endian (FE FF 00 00) can't be mistaken for any other form.
std::string markedUtf16(const std::wstring& lines)
{
    const bool bigEndian = !lines.empty() && lines[0] == L'\0';
    return toUtf16(L"\xFEFF" + lines, bigEndian);
}

// Moves the finished temporary file over the target; on failure the temporary file is gone
// unless it holds the only copy of the content.
bool replaceFile(const tstring& temp, const tstring& path)
{
    if (MoveFileEx(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
        DeleteFile(temp.c_str());
        return false;
    }
    // Windows 98/Me has no MoveFileEx.
    return replaceByRemovingFirst(temp, path);
}

template <class Char>
bool isControl(Char ch);

template <>
bool isControl<char>(char ch)
{
    unsigned char c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
}

template <>
bool isControl<wchar_t>(wchar_t ch)
{
    unsigned c = static_cast<unsigned short>(ch);
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

template <class String>
String trimControls(const String& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isControl(text[begin])) ++begin;
    while (end > begin && isControl(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

bool readWholeFile(const tstring& path, std::string& bytes)
{
    bytes.clear();
    fileHandle file(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0) return false;
    std::string data(size, '\0');
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file.get(), &data[done], size - done, &got, nullptr) || got == 0) return false;
        done += got;
    }
    bytes.swap(data);
    return true;
}

std::string readWholeFile(const tstring& path)
{
    std::string bytes;
    readWholeFile(path, bytes);
    return bytes;
}

bool writeWholeFile(const tstring& path, const char* bytes, size_t count)
{
    if (path.empty() || count > MAXDWORD) return false;
    const tstring temp = path + TEXT(".tmp");
    {
        fileHandle file(CreateFile(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
        DWORD written = 0;
        bool ok = count == 0 ||
                  (WriteFile(file.get(), bytes, static_cast<DWORD>(count), &written, nullptr) &&
                   written == count);
        ok = ok && FlushFileBuffers(file.get());
        ok = file.close() && ok;
        if (!ok) {
            DeleteFile(temp.c_str());
            return false;
        }
    }
    return replaceFile(temp, path);
}

bool replaceByRemovingFirst(const tstring& temp, const tstring& path)
{
    if (!DeleteFile(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        // The old file is still there and whole: the new content is simply not stored.
        DeleteFile(temp.c_str());
        return false;
    }
    // Once the old file is gone, the temporary file is all there is of the content: a failed
    // rename leaves it in place, never removed.
    return MoveFile(temp.c_str(), path.c_str()) != FALSE;
}

bool hasByteOrderMark(const std::string& bytes)
{
    if (bytes.empty()) return true;
    return startsWith(bytes, "\x00\x00\xFE\xFF", 4) || startsWith(bytes, "\xFF\xFE", 2) ||
           startsWith(bytes, "\xFE\xFF", 2) || startsWith(bytes, "\xEF\xBB\xBF", 3);
}

std::string trimControlChars(const std::string& text) { return trimControls(text); }
std::wstring trimControlChars(const std::wstring& text) { return trimControls(text); }

std::wstring decodeFileText(const std::string& bytes)
{
    if (startsWith(bytes, "\x00\x00\xFE\xFF", 4)) return decodeUtf32(bytes, true);
    if (startsWith(bytes, "\xFF\xFE\x00\x00", 4)) return decodeUtf32(bytes, false);
    if (startsWith(bytes, "\xFE\xFF", 2)) return decodeUtf16(bytes, true);
    if (startsWith(bytes, "\xFF\xFE", 2)) return decodeUtf16(bytes, false);
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return decodeUtf8(bytes);
    return decodeCp932(bytes);
}

namespace {
enum class fileEncoding { none, cp932, utf8, utf16 };

fileEncoding encodeAs(const std::wstring& text, std::string& bytes)
{
    const std::wstring lines = withCrLf(text);
    if (lines.empty()) return fileEncoding::none;
    if (losslessCp932(lines, bytes)) return fileEncoding::cp932;
    const std::wstring marked = L"\xFEFF" + lines;
    std::string utf8;
    if (toUtf8(marked, utf8) && utf8.size() < 2 * marked.size()) {
        bytes.swap(utf8);
        return fileEncoding::utf8;
    }
    bytes = markedUtf16(lines);
    return fileEncoding::utf16;
}
}  // namespace

bool encodeFileText(const std::wstring& text, std::string& bytes)
{
    return encodeAs(text, bytes) != fileEncoding::none;
}

textFileReader::textFileReader(const tstring& path)
{
    std::string bytes;
    if (!readWholeFile(path, bytes)) {
        setstate(std::ios_base::failbit);
        return;
    }
    // With a 16-bit wint_t, U+FFFF is WEOF: a wide stream that meets it ends there, and every
    // line after it would be lost without a word. The noncharacter is kept out of the stream.
    const std::wstring decoded = decodeFileText(bytes);
    std::wstring text;
    text.reserve(decoded.size());
    for (wchar_t ch : decoded) {
        if (ch == L'\xFFFF')
            text += unsupportedCharText;
        else
            text += ch;
    }
    str(text);
}

textFileWriter::textFileWriter(const tstring& path)
    : m_path(path), m_uncaughtAtStart(std::uncaught_exceptions())
{
}

textFileWriter::~textFileWriter()
{
    // Unwinding past a writer means its filler failed: keep the old file rather than store
    // half a text.
    if (m_saved || m_discarded || std::uncaught_exceptions() > m_uncaughtAtStart) return;
    try {
        save();
    } catch (...) {
    }
}

textFileWriter& textFileWriter::save()
{
    if (m_saved) return *this;
    if (m_discarded) {
        setstate(std::ios_base::badbit);
        return *this;
    }
    std::string bytes;
    fileEncoding encoding = encodeAs(str(), bytes);
    bool ok = false;
    if (encoding != fileEncoding::none) {
        ok = writeWholeFile(m_path, bytes.data(), bytes.size());
        if (!ok && encoding == fileEncoding::utf8) {
            const std::string utf16 = markedUtf16(withCrLf(str()));
            ok = writeWholeFile(m_path, utf16.data(), utf16.size());
        }
    }
    if (ok)
        m_saved = true;
    else
        setstate(std::ios_base::badbit);
    return *this;
}

void textFileWriter::discard()
{
    m_discarded = true;
    str(std::wstring());
}
