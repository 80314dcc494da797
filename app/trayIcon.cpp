#include "app/trayIcon.h"

namespace {
// Resource ids in the order of the set's indices: the first two and 13/14 are swapped on purpose,
// so the "off" icon is index 0 and each group of four reads half/full x lock off/on.
const int iconIds[18] = {7001, 7000, 7002, 7003, 7004, 7005, 7006, 7007, 7008,
                         7009, 7010, 7011, 7012, 7014, 7013, 7015, 7016, 7017};
}  // namespace

int chooseTrayIconIndex(const trayIconState& s)
{
    const bool simple = s.imeStateDisplay == 0 || (s.gameSwitch && !s.imeOpen);
    if (simple) {
        if (!s.agentActive) return 0;
        if (!s.gameSwitch) return 1;
        return (s.gameModeFlags & 0x80) ? 3 : 2;
    }
    if (s.imeOpen) {
        if (s.alphanumericMode) return 8 + 2 * (s.fullShape ? 1 : 0) + (s.capsOn ? 1 : 0);
        if (s.katakanaMode) return 12 + 2 * (s.fullShape ? 1 : 0) + (s.kanaOn ? 1 : 0);
        return 16 + (s.kanaOn ? 1 : 0);
    }
    if (s.kanaOn) return 7;
    if (!s.agentActive) return 0;
    return 4 + (s.capsOn ? 1 : 0);
}

int trayIconSet::resourceIdOf(int index)
{
    if (index < 0 || index > 17) index = 0;
    return iconIds[index];
}

trayIconSet::trayIconSet(HINSTANCE instance)
{
    for (int id : iconIds) {
        m_icons.push_back(static_cast<HICON>(
            LoadImage(instance, MAKEINTRESOURCE(id), IMAGE_ICON, 16, 16, 0)));
    }
}

trayIconSet::~trayIconSet()
{
    for (HICON icon : m_icons) {
        if (icon) DestroyIcon(icon);
    }
}

HICON trayIconSet::icon(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_icons.size())) index = 0;
    return m_icons.empty() ? nullptr : m_icons[index];
}
