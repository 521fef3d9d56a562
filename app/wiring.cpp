#include "app/wiring.h"

#include "app/mainwindow.h"

namespace qta {

void wireWindows(TQTA504& main) {
    (void)main;
}

} // namespace qta
