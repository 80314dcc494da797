// The operation log's stream. Any thread writes a line under the stream's lock; the text is
// collected in memory and a window is told about it by a posted message, so that writers never
// wait on a window. The window takes the text out with takeText/clearText.
//
// Writing one line:
//     log.lock(level); log << ... << std::endl; log.unlock();
// or with scopedLock (level 0). Text flushed while the message level is above the shown level
// is dropped.
#pragma once

#include "core/platform/locks.h"

#include <windows.h>

#include <atomic>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace omsgDetail {
// How many units at the start of a put area form whole characters. Wide text is taken whole;
// CP932 text keeps a trailing lead byte back so that a character is never split between pieces.
inline size_t wholeCharacters(const wchar_t*, size_t count) { return count; }
inline size_t wholeCharacters(const char* text, size_t count)
{
    size_t i = 0;
    while (i < count) {
        if (IsDBCSLeadByteEx(932, static_cast<BYTE>(text[i]))) {
            if (i + 1 >= count) return i;
            i += 2;
        } else {
            i += 1;
        }
    }
    return i;
}
}  // namespace omsgDetail

template <class Char, size_t BufferSize, class Traits = std::char_traits<Char>,
          class Alloc = std::allocator<Char>>
class omsgBuffer : public std::basic_streambuf<Char, Traits>, public lockable {
public:
    typedef std::basic_string<Char, Traits, Alloc> string_type;
    typedef typename Traits::int_type int_type;

    omsgBuffer(UINT messageId, HWND window)
        : m_noticeWindow(window), m_messageId(messageId), m_storage(BufferSize)
    {
        resetPutArea(0);
    }
    ~omsgBuffer() override { sync(); }
    omsgBuffer(const omsgBuffer&) = delete;
    omsgBuffer& operator=(const omsgBuffer&) = delete;

    // Takes the lock and sets the level of the message about to be written.
    void lock(int level) override
    {
        m_textLock.lock();
        m_messageLevel = level;
    }
    void lock() override { m_textLock.lock(); }
    // Tells the window when text is waiting, then releases the lock.
    void unlock() override
    {
        if (!m_pendingText.empty()) post(m_noticeWindow);
        m_messageLevel = m_shownLevel.load();
        m_textLock.unlock();
    }

    // The waiting text; the lock stays held until clearText.
    string_type& takeText()
    {
        m_textLock.lock();
        return m_pendingText;
    }
    void clearText()
    {
        m_pendingText.clear();
        m_textLock.unlock();
    }

    void setWindow(HWND window)
    {
        scopedLock guard(m_textLock);
        m_noticeWindow = window;
        if (!m_pendingText.empty()) post(m_noticeWindow);
    }
    HWND window()
    {
        scopedLock guard(m_textLock);
        return m_noticeWindow;
    }
    // Read by writers on other threads while the log window changes it.
    void setShownLevel(int level) { m_shownLevel.store(level); }
    int shownLevel() const { return m_shownLevel.load(); }
    UINT messageId() const { return m_messageId; }

protected:
    int sync() override
    {
        const size_t count = static_cast<size_t>(this->pptr() - this->pbase());
        const size_t whole = omsgDetail::wholeCharacters(this->pbase(), count);
        if (m_messageLevel <= m_shownLevel.load()) m_pendingText.append(this->pbase(), whole);
        // A lead byte kept back becomes the first unit of the fresh put area.
        const size_t kept = count - whole;
        if (kept) Traits::move(m_storage.data(), this->pbase() + whole, kept);
        resetPutArea(kept);
        return 0;
    }

    int_type overflow(int_type ch) override
    {
        sync();
        if (Traits::eq_int_type(ch, Traits::eof())) return Traits::not_eof(ch);
        *this->pptr() = Traits::to_char_type(ch);
        this->pbump(1);
        sync();
        return ch;
    }

private:
    void resetPutArea(size_t used)
    {
        this->setp(m_storage.data(), m_storage.data() + m_storage.size());
        this->pbump(static_cast<int>(used));
    }
    void post(HWND window)
    {
        PostMessage(window, m_messageId, 0, reinterpret_cast<LPARAM>(this));
    }

    HWND m_noticeWindow;
    const UINT m_messageId;
    std::vector<Char, Alloc> m_storage;
    string_type m_pendingText;
    sectionLock m_textLock;
    std::atomic<int> m_shownLevel{0};
    int m_messageLevel = 0;
};

template <class Char, size_t BufferSize, class Traits = std::char_traits<Char>,
          class Alloc = std::allocator<Char>>
class basic_omsgstream : public std::basic_ostream<Char, Traits>, public lockable {
public:
    typedef omsgBuffer<Char, BufferSize, Traits, Alloc> buffer_type;
    typedef typename buffer_type::string_type string_type;

    basic_omsgstream(UINT messageId, HWND window)
        : std::basic_ostream<Char, Traits>(nullptr), m_buffer(messageId, window)
    {
        this->init(&m_buffer);
    }

    void lock(int level) override { m_buffer.lock(level); }
    void lock() override { m_buffer.lock(); }
    void unlock() override { m_buffer.unlock(); }

    buffer_type& buffer() { return m_buffer; }
    string_type& takeText() { return m_buffer.takeText(); }
    void clearText() { m_buffer.clearText(); }
    void setWindow(HWND window) { m_buffer.setWindow(window); }
    void setShownLevel(int level) { m_buffer.setShownLevel(level); }
    int shownLevel() const { return m_buffer.shownLevel(); }

private:
    buffer_type m_buffer;
};

// The program's log stream: wide in the Unicode build, CP932 in the ANSI build.
typedef basic_omsgstream<TCHAR, 1024> omsgstream;
// The message the log stream posts to its window; lParam is the omsgstream::buffer_type.
const UINT logTextMessage = 0x8066;
