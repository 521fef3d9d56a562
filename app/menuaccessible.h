// Accessibility of the main window's menu items: besides the caption, each
// item tells screen readers and UI automation its component name (as the
// description) and what it does (as the help text). Qt's own menu items
// expose the caption only.
#pragma once

namespace qta {

// Installs the interface for every menu item that carries the dynamic
// property "accessibleDescription"; other actions keep Qt's own. Idempotent.
void installMenuItemAccessibility();

} // namespace qta
