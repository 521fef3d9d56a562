// Plugs the windows of the subsystems into the main window's items.
#pragma once

namespace qta {
class TQTA504;
void wireWindows(TQTA504& main);
} // namespace qta
